// The single top-level window: menus and toolbar built from the command
// table, the zoom box, the side panel docked at the right, the status bar.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <QMap>
#include <QStringList>
#include <memory>

#include "app/image_settings.h"
#include "commands/lumadrift_doc.h"
#include "ui/key_locks.h"
#include "ui/view_geometry.h"

class QAction;
class QMenu;
class QDockWidget;
class QLabel;

namespace lumadrift {

class CBusyIndicator;
class CLumadriftView;
class CSidePanel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // placement is read for the initial geometry and updated on close.
    CMainFrame(CLumadriftDoc& doc, FramePlacement& placement, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CLumadriftView* view() const { return view_; }
    CSidePanel* sidePanel() const { return panel_; }
    QComboBox* zoomBox() const { return zoomBox_; }
    QDockWidget* dock() const { return dock_; }
    QAction* action(int id) const { return actions_.value(id, nullptr); }
    QMenu* recentMenuHolder() const { return fileMenu_; }
    void UpdateTitle();

    // Opens a file as the open command does; shows the refusal message.
    bool OpenFile(const QString& path);
    // Replays a filter file as the run-macro command does once it is chosen.
    void RunMacroFile(const QString& path);

    // Runs a command id as a menu choice would, then refreshes every action.
    // A command that runs out of memory says so; the picture is unchanged.
    void OnCommand(int id);
    // The one place where enabling and checks are decided (from the
    // command table's rule over the document's values).
    void UpdateActions();

    // Cursor values and/or an image range into the side panel.
    void UpdateSidePanel(const int* cursor /* x, y, brightness, r, g, b */,
                         const ProcessingRange* range);
    void SyncZoomBox(int zoom);

    QStringList recentFiles() const { return recent_; }

    // The notice shown when the installation layout is missing, then close.
    void OnEnvironmentFailure();
    static QString EnvironmentNotice();

    // The status bar's ｶﾅ, CAP, NUM and SCRL: lit for a lock that is on,
    // grey when it is off or the platform does not tell.
    void ShowKeyLocks(const KeyLocks& locks);
    QLabel* lockIndicator(int i) const { return locks_[i]; }
    // The wait cursor and progress bar of long operations.
    CBusyIndicator* busyIndicator() const { return busy_.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void RunCommand(int id);
    QAction* MakeAction(int id);
    void BuildMenus();
    void BuildMenu(QMenu* menu, const std::vector<MenuNode>& nodes);
    void BuildToolBar();
    void BuildStatusBar();
    void BuildSidePanel();
    void OnZoomBoxSelected(int index);
    void ApplyZoomModel();
    void OnOpen();
    void OnSave();
    void OnSaveAs();
    void OnRecordMacro();
    void OnRunMacro();
    void OnAbout();
    void LoadRecentFiles();
    void AddRecentFile(const QString& path);
    void RefreshRecentMenu();

    CLumadriftDoc& doc_;
    FramePlacement& placement_;
    CLumadriftView* view_ = nullptr;
    CSidePanel* panel_ = nullptr;
    QDockWidget* dock_ = nullptr;
    QComboBox* zoomBox_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentPlaceholder_ = nullptr;
    QList<QAction*> recentActions_;
    QMap<int, QAction*> actions_;
    ZoomBoxModel zoomModel_;
    QStringList recent_;
    bool updatingZoomBox_ = false;
    QLabel* locks_[4] = {};
    std::unique_ptr<CBusyIndicator> busy_;
    // The placement is the frame's rectangle; the window system tells the
    // frame's size only once the window is up.
    bool placementApplied_ = false;
    void ApplyPlacementToFrame();
};

}  // namespace lumadrift
