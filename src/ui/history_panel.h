// The "履歴" panel: the steps the undo history holds, oldest first, each as
// its operation's name and the parameters its macro line carries, with the
// current step marked. Choosing a step walks the history to it one undo or
// redo at a time, so a recording gets the same lines as from the menu.
#pragma once

#include <QListWidget>
#include <QString>
#include <QWidget>

namespace lumadrift {

class CLumadriftDoc;
class CMainFrame;
class History;

class CHistoryPanel : public QWidget {
    Q_OBJECT
public:
    explicit CHistoryPanel(QWidget* parent = nullptr);

    // Rebuilds the rows from the history (at most five, so always whole).
    void Refresh(const History& history);
    QListWidget* list() const { return list_; }
    // The row of the current step, -1 when the history is empty.
    int currentRow() const { return current_; }
    // Room for the five steps and no more, so that the side panel above it
    // keeps its height when the two share the right edge.
    QSize sizeHint() const override;

Q_SIGNALS:
    void stepChosen(int row);

private:
    QListWidget* list_ = nullptr;
    int current_ = -1;
};

// "2値化 最小値=100 最大値=200": the name of the step's operation, then its
// parameter line when the operation writes one.
QString HistoryStepText(int code, const std::string& text);

// Docks the panel in the frame, keeps it in step with the document and lets
// a chosen step run the frame's undo and redo commands. Returns the panel.
CHistoryPanel* InstallHistoryPanel(CMainFrame& frame, CLumadriftDoc& doc);

}  // namespace lumadrift
