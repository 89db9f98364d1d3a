// The wait cursor and the status bar's progress bar for operations that run
// longer than half a second.
//
// Filters run on the user-interface thread, so no timer can fire while one
// runs: the indicator is the work observer of that thread
// (core/work_progress.h) and decides at each tick the operation sends. It
// counts from the start of the operation, or from the moment its last modal
// window closed: while a modal window (a parameter dialog, a message box) is
// up nothing is busy, so the cursor is the normal one over it and a preview
// run from the dialog counts on its own. Once shown it paints the status bar
// at once, without running the event loop (no input is taken mid-operation),
// and the end of the operation puts cursor and status bar back, also when
// the operation leaves by an exception.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

#include "core/work_progress.h"

class QProgressBar;
class QStatusBar;

namespace lumadrift {

class CBusyIndicator : public QObject, public WorkObserver {
    Q_OBJECT
public:
    // Becomes the calling thread's work observer until it goes (the last
    // window made has it); must go before the status bar.
    explicit CBusyIndicator(QStatusBar* bar);
    ~CBusyIndicator() override;

    // How long an operation runs before the indication shows (500 ms).
    void setDelay(int milliseconds) { delayMs_ = milliseconds; }
    bool shown() const { return shown_; }
    QProgressBar* progressBar() const { return progress_; }
    static QString busyText();

    void OnWorkBegin() override;
    void OnWorkEnd() override;
    void OnWorkTick(int done, int total) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show();
    void Hide();
    void Paint();

    QStatusBar* bar_;
    QProgressBar* progress_;
    int delayMs_ = 500;
    // Per open scope: whether it started the clock (and stops it at its end).
    std::vector<bool> scopes_;
    bool counting_ = false;
    QElapsedTimer clock_;
    QElapsedTimer sincePaint_;
    bool shown_ = false;
    QString savedMessage_;
};

}  // namespace lumadrift
