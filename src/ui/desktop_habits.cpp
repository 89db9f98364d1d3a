#include "ui/desktop_habits.h"

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <cstdlib>

#include "commands/lumadrift_doc.h"
#include "core/picture_file.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"
#include "ui/view_geometry.h"

namespace lumadrift {

namespace {

// One notch of a common mouse wheel.
constexpr int kWheelNotch = 120;

// The first local file of a drag, or "".
QString DroppedFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
    return {};
}

void OpenDropped(CMainFrame& frame, const QString& path)
{
    frame.UpdateActions();
    if (path.endsWith(QStringLiteral(".flt"), Qt::CaseInsensitive)) {
        const QAction* run = frame.action(kCmdRunMacro);
        if (!run || !run->isEnabled())
            return;
        const auto answer = QMessageBox::question(
            &frame, QStringLiteral("Lumadrift"),
            QStringLiteral("%1 をﾏｸﾛとして実行しますか?").arg(QFileInfo(path).fileName()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        frame.RunMacroFile(path);
    } else {
        const QAction* open = frame.action(kCmdOpen);
        if (!open || !open->isEnabled())
            return;
        frame.OpenFile(path);
    }
    frame.UpdateTitle();
    frame.UpdateActions();
}

// Drops on any part of the window that takes none itself.
class DropOpener : public QObject {
public:
    explicit DropOpener(CMainFrame& frame) : QObject(&frame), frame_(frame) {}

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::DragEnter && e->type() != QEvent::DragMove &&
            e->type() != QEvent::Drop)
            return QObject::eventFilter(watched, e);
        auto* drop = static_cast<QDropEvent*>(e);
        const QString path = DroppedFile(drop->mimeData());
        if (path.isEmpty())
            return false;
        drop->acceptProposedAction();
        if (e->type() == QEvent::Drop) {
            // Not inside the drop itself: its source waits until the drop
            // returns, and a message box or a macro may take a while.
            CMainFrame* frame = &frame_;
            QTimer::singleShot(0, frame, [frame, path] { OpenDropped(*frame, path); });
        }
        return true;
    }

private:
    CMainFrame& frame_;
};

// Ctrl + wheel and middle-button dragging on the view's viewport, taken
// before the view sees them.
class ViewNavigator : public QObject {
public:
    ViewNavigator(CMainFrame& frame, CLumadriftDoc& doc)
        : QObject(frame.view()), frame_(frame), doc_(doc), view_(*frame.view())
    {
    }

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::Wheel: return Wheel(static_cast<QWheelEvent*>(e));
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* m = static_cast<QMouseEvent*>(e);
            if (m->button() == Qt::MiddleButton) {
                // Never in the middle of a range or profile drag.
                if (!panning_ && view_.dragState() == 0)
                    StartPan(m->position());
                return true;
            }
            return panning_;
        }
        case QEvent::MouseMove:
            if (!panning_)
                return false;
            Pan(static_cast<QMouseEvent*>(e)->position());
            return true;
        case QEvent::MouseButtonRelease:
            if (!panning_)
                return false;
            if (static_cast<QMouseEvent*>(e)->button() == Qt::MiddleButton) {
                panning_ = false;
                view_.viewport()->unsetCursor();
            }
            return true;
        default: return QObject::eventFilter(watched, e);
        }
    }

private:
    bool ZoomBoxEnabled() const { return EvaluateCommand(kCtlZoomBox, doc_.CommandValues()).enabled; }

    bool Wheel(QWheelEvent* e)
    {
        if (!(e->modifiers() & Qt::ControlModifier))
            return false;
        // Ctrl + wheel never scrolls, even when it cannot zoom.
        if (!ZoomBoxEnabled() || view_.dragState() != 0 || panning_)
            return true;
        const int delta = e->angleDelta().y();
        // A turn the other way starts afresh.
        if ((delta > 0 && wheelRest_ < 0) || (delta < 0 && wheelRest_ > 0))
            wheelRest_ = 0;
        wheelRest_ += delta;
        // Fine-grained wheels add up to whole notches.
        while (std::abs(wheelRest_) >= kWheelNotch) {
            const int direction = wheelRest_ > 0 ? 1 : -1;
            wheelRest_ -= direction * kWheelNotch;
            QStringList entries;
            for (int i = 0; i < frame_.zoomBox()->count(); ++i)
                entries << frame_.zoomBox()->itemText(i);
            const int next = NextZoomEntry(entries, doc_.zoom(), direction);
            if (next != doc_.zoom())
                ZoomAbout(next, e->position());
        }
        return true;
    }

    void ZoomAbout(int zoom, const QPointF& at)
    {
        QScrollBar* h = view_.horizontalScrollBar();
        QScrollBar* v = view_.verticalScrollBar();
        const double from = doc_.zoom() * 0.01;
        const double ix = (at.x() + h->value() - kViewMargin) / from;
        const double iy = (at.y() + v->value() - kViewMargin) / from;
        // As a zoom chosen anywhere else: the view rescales and the zoom box
        // follows (a custom value becomes its custom entry, as when typed).
        doc_.setZoom(zoom);
        const double to = zoom * 0.01;
        h->setValue(static_cast<int>(std::lround(ix * to + kViewMargin - at.x())));
        v->setValue(static_cast<int>(std::lround(iy * to + kViewMargin - at.y())));
    }

    void StartPan(const QPointF& at)
    {
        panning_ = true;
        panFrom_ = at;
        scrollFrom_ = QPoint(view_.horizontalScrollBar()->value(), view_.verticalScrollBar()->value());
        view_.viewport()->setCursor(Qt::ClosedHandCursor);
    }

    void Pan(const QPointF& at)
    {
        const QPointF moved = at - panFrom_;
        view_.horizontalScrollBar()->setValue(scrollFrom_.x() - static_cast<int>(std::lround(moved.x())));
        view_.verticalScrollBar()->setValue(scrollFrom_.y() - static_cast<int>(std::lround(moved.y())));
    }

    CMainFrame& frame_;
    CLumadriftDoc& doc_;
    CLumadriftView& view_;
    int wheelRest_ = 0;
    bool panning_ = false;
    QPointF panFrom_;
    QPoint scrollFrom_;
};

}  // namespace

int NextZoomEntry(const QStringList& entries, int zoom, int direction)
{
    int best = zoom;
    for (const QString& e : entries) {
        const int v = static_cast<int>(std::strtol(e.toStdString().c_str(), nullptr, 10));
        if (v <= 0)
            continue;
        if (direction > 0 && v > zoom && (best == zoom || v < best))
            best = v;
        if (direction < 0 && v < zoom && (best == zoom || v > best))
            best = v;
    }
    return best;
}

QString SuffixOfNameFilter(const QString& filter)
{
    const int star = filter.indexOf(QStringLiteral("*."));
    if (star < 0)
        return {};
    int end = star + 2;
    while (end < filter.size() && filter.at(end).isLetterOrNumber())
        ++end;
    return filter.mid(star + 2, end - star - 2);
}

void OfferSavePictureFormats(QFileDialog& dlg)
{
    dlg.setNameFilters(QString::fromUtf8(kSavePictureFilter).split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(SuffixOfNameFilter(dlg.nameFilters().value(0)));
    QFileDialog* d = &dlg;
    QObject::connect(d, &QFileDialog::filterSelected, d,
                     [d](const QString& f) { d->setDefaultSuffix(SuffixOfNameFilter(f)); });
}

void InstallDesktopHabits(CMainFrame& frame, CLumadriftDoc& doc)
{
    frame.setAcceptDrops(true);
    frame.installEventFilter(new DropOpener(frame));
    frame.view()->viewport()->installEventFilter(new ViewNavigator(frame, doc));

    auto* actual = new QAction(&frame);
    actual->setObjectName(QStringLiteral("zoomActualSize"));
    actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    actual->setShortcutContext(Qt::WindowShortcut);
    frame.addAction(actual);
    QObject::connect(actual, &QAction::triggered, &frame, [&doc] {
        if (EvaluateCommand(kCtlZoomBox, doc.CommandValues()).enabled && doc.zoom() != 100)
            doc.setZoom(100);
    });
}

}  // namespace lumadrift
