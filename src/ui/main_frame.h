// The single top-level window.
#pragma once

#include <QMainWindow>

#include "app/image_settings.h"
#include "commands/lumadrift_doc.h"

namespace lumadrift {

class CLumadriftView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // placement is read for the initial geometry and updated on close.
    CMainFrame(CLumadriftDoc& doc, FramePlacement& placement, QWidget* parent = nullptr);

    CLumadriftView* view() const { return view_; }
    void UpdateTitle();

    // Opens a file as the open command does; shows the refusal message.
    bool OpenFile(const QString& path);

    // The notice shown when the installation layout is missing, then close.
    void OnEnvironmentFailure();
    static QString EnvironmentNotice();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CLumadriftDoc& doc_;
    FramePlacement& placement_;
    CLumadriftView* view_ = nullptr;
};

}  // namespace lumadrift
