#include "ui/busy_indicator.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QProgressBar>
#include <QStatusBar>
#include <QWidget>

namespace lumadrift {

namespace {

// Repaints of a progress bar that counts, at most this often.
constexpr int kPaintIntervalMs = 100;

bool IsModalWindow(QObject* o)
{
    auto* w = qobject_cast<QWidget*>(o);
    return w && w->isWindow() && w->isModal();
}

// Another modal window than `except` still up.
bool OtherModalShown(const QWidget* except)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != except && w->isVisible() && w->isModal())
            return true;
    return false;
}

}  // namespace

QString CBusyIndicator::busyText() { return QStringLiteral("処理中..."); }

CBusyIndicator::CBusyIndicator(QStatusBar* bar)
    : bar_(bar), progress_(new QProgressBar(bar))
{
    progress_->setObjectName(QStringLiteral("busyProgress"));
    progress_->setMaximumWidth(160);
    progress_->setMaximumHeight(bar->fontMetrics().height() + 2);
    progress_->setTextVisible(false);
    progress_->hide();
    bar_->insertPermanentWidget(0, progress_);
    SetWorkObserver(this);
}

CBusyIndicator::~CBusyIndicator()
{
    Hide();
    if (!scopes_.empty())
        qApp->removeEventFilter(this);
    // Another window's indicator may have taken over meanwhile.
    WorkObserver* current = SetWorkObserver(nullptr);
    if (current != this)
        SetWorkObserver(current);
}

void CBusyIndicator::OnWorkBegin()
{
    if (scopes_.empty())
        qApp->installEventFilter(this);  // modal windows, only while at work
    const bool starts = !counting_;
    if (starts) {
        counting_ = true;
        clock_.start();
    }
    scopes_.push_back(starts);
}

void CBusyIndicator::OnWorkEnd()
{
    if (scopes_.empty())
        return;
    const bool started = scopes_.back();
    scopes_.pop_back();
    if (started || scopes_.empty()) {
        counting_ = false;
        Hide();
    }
    if (scopes_.empty())
        qApp->removeEventFilter(this);
}

void CBusyIndicator::OnWorkTick(int done, int total)
{
    if (!counting_ || scopes_.empty())
        return;
    if (!shown_) {
        if (clock_.elapsed() < delayMs_)
            return;
        Show();
    }
    if (total > 0 && (progress_->maximum() != total || progress_->value() != done)) {
        progress_->setRange(0, total);
        progress_->setValue(done);
        if (sincePaint_.elapsed() >= kPaintIntervalMs)
            Paint();
    }
}

bool CBusyIndicator::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide) && IsModalWindow(watched)) {
        if (type == QEvent::Show) {
            // Waiting for the operator is not being busy.
            counting_ = false;
            Hide();
        } else if (!OtherModalShown(static_cast<QWidget*>(watched))) {
            counting_ = true;
            clock_.start();
        }
    }
    return QObject::eventFilter(watched, event);
}

void CBusyIndicator::Show()
{
    shown_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    savedMessage_ = bar_->currentMessage();
    bar_->showMessage(busyText());
    progress_->setRange(0, 0);  // no count yet: the busy bar
    progress_->show();
    Paint();
}

void CBusyIndicator::Hide()
{
    if (!shown_)
        return;
    shown_ = false;
    QApplication::restoreOverrideCursor();
    progress_->hide();
    progress_->setRange(0, 0);
    // An empty message brings back the idle text.
    bar_->showMessage(savedMessage_);
}

void CBusyIndicator::Paint()
{
    // The event loop is not running: lay out and paint now.
    if (QLayout* l = bar_->layout())
        l->activate();
    bar_->repaint();
    sincePaint_.start();
}

}  // namespace lumadrift
