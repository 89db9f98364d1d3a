#include "ui/lumadrift_view.h"

#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTimer>
#include <cstring>

#include "ui/dialogs.h"
#include "ui/result_windows.h"

namespace lumadrift {

const char* const kFftCannotStartText = "FFT処理の作業領域を確保できません";

QColor FromColorRef(uint32_t c)
{
    return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
}

uint32_t ToColorRef(const QColor& c)
{
    return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
           (static_cast<uint32_t>(c.blue()) << 16);
}

QImage RenderDocumentImage(const CLumadriftDoc& doc, int plane)
{
    if (ShowsGrayPlane(doc.state())) {
        const PlaneBank& bank = doc.planes();
        const uint8_t* p = bank.GetPlane(plane);
        if (!p)
            return {};
        QImage img(bank.width(), bank.height(), QImage::Format_Indexed8);
        QVector<QRgb> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = qRgb(i, i, i);
        img.setColorTable(table);
        for (int y = 0; y < bank.height(); ++y)
            std::memcpy(img.scanLine(y), p + static_cast<size_t>(y) * bank.width(), bank.width());
        return img;
    }
    const ColorBank& colors = doc.colors();
    const uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    colors.GetColorPlanes(0, &r, &g, &b);
    if (!r || !g || !b)
        return {};
    const int w = colors.width();
    const int h = colors.height();
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const size_t off = static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x)
            line[x] = qRgb(r[off + x], g[off + x], b[off + x]);
    }
    return img;
}

namespace {

// Exclusive-or of the colour bytes under the pen's stroke. The stroke is
// rasterized into a coverage mask first so that every pixel flips exactly
// once, however the outline's segments meet; the alpha byte stays 0xff.
void XorPolyline(QImage& target, const QPolygon& poly, uint32_t color, int zoom)
{
    const int width = ToDisplay(zoom, 1);  // 0: the thinnest line
    const int reach = width / 2 + 2;
    const QRect bounds =
        poly.boundingRect().adjusted(-reach, -reach, reach, reach).intersected(target.rect());
    if (bounds.isEmpty())
        return;
    QImage mask(bounds.size(), QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter p(&mask);
        p.translate(-bounds.topLeft());
        QPen pen(Qt::black);
        pen.setWidth(width);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.drawPolyline(poly);
    }
    // Black, the colour of a fresh installation, would flip nothing and
    // leave frame and line invisible: it inverts instead. The settings keep
    // the colour as chosen.
    if ((color & 0x00ffffff) == 0)
        color = 0x00ffffff;
    const QRgb flip = qRgb(color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff) & 0x00ffffff;
    for (int y = 0; y < bounds.height(); ++y) {
        const uchar* m = mask.constScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(y + bounds.top())) + bounds.left();
        for (int x = 0; x < bounds.width(); ++x)
            if (m[x] >= 128)
                line[x] ^= flip;
    }
}

}  // namespace

void DrawRangeFrame(QImage& target, const ViewRect& r, uint32_t color, int zoom)
{
    QPolygon poly;
    poly << QPoint(r.left, r.top) << QPoint(r.left, r.bottom) << QPoint(r.right, r.bottom)
         << QPoint(r.right, r.top) << QPoint(r.left, r.top);
    XorPolyline(target, poly, color, zoom);
}

void DrawProfileLine(QImage& target, const ViewRect& l, uint32_t color, int zoom)
{
    QPolygon poly;
    poly << QPoint(l.left, l.top) << QPoint(l.right, l.bottom);
    XorPolyline(target, poly, color, zoom);
}

CLumadriftView::CLumadriftView(CLumadriftDoc& doc, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc)
{
    doc_.SetObserver(this);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    // A replayed preview or capture line switches the camera through here;
    // the document has already made its own changes when this is called.
    doc_.SetCameraHook([this](bool on) {
        if (!on) {
            CloseCamera();
            return true;
        }
        return OpenCamera(false);
    });
}

CLumadriftView::~CLumadriftView()
{
    doc_.SetCameraHook(nullptr);
    CloseCamera();
    doc_.SetObserver(nullptr);
    delete profileWnd_.data();
}

void CLumadriftView::OnImageChanged()
{
    RebuildIfPending();
    UpdateScrollBars();
    // A replayed open, undo or redo may leave the profile state.
    SyncProfileWindow();
    viewport()->update();
}

void CLumadriftView::OnProfileChanged()
{
    SyncProfileWindow();
    // A replayed line comes in image pixels; a drawn one is here already,
    // with the display ends the mouse gave.
    const ProfileLine& l = doc_.profileLine();
    if (l.x1 != lineImg_.left || l.y1 != lineImg_.top || l.x2 != lineImg_.right ||
        l.y2 != lineImg_.bottom) {
        const int z = doc_.zoom();
        lineImg_ = {l.x1, l.y1, l.x2, l.y2};
        lineDisp_ = {ToDisplay(z, l.x1), ToDisplay(z, l.y1), ToDisplay(z, l.x2),
                     ToDisplay(z, l.y2)};
    }
    if (profileWnd_)
        profileWnd_->Fill(doc_.profileRows());
    viewport()->update();
}

void CLumadriftView::OnZoomChanged(int zoom)
{
    ApplyZoom();
    Q_EMIT zoomChanged(zoom);
}

void CLumadriftView::OnRangeChanged()
{
    ShowStoredRange();
    viewport()->update();
}

void CLumadriftView::OnTitleChanged()
{
    Q_EMIT titleChanged();
}

void CLumadriftView::OnHistoryChanged()
{
    Q_EMIT historyChanged();
}

void CLumadriftView::RebuildIfPending()
{
    if (doc_.renderPending() < 0) {
        if (doc_.state() == kStateNoImage)
            image_ = QImage();
        return;
    }
    image_ = RenderDocumentImage(doc_, doc_.renderPending());
    doc_.setRenderPending(-1);
}

void CLumadriftView::UpdateScrollBars()
{
    const int zoom = doc_.zoom() > 0 ? doc_.zoom() : 100;
    const int w = image_.isNull() ? 0 : ToDisplay(zoom, image_.width()) + 2 * kViewMargin;
    const int h = image_.isNull() ? 0 : ToDisplay(zoom, image_.height()) + 2 * kViewMargin;
    const QSize vp = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, w - vp.width()));
    verticalScrollBar()->setRange(0, std::max(0, h - vp.height()));
    horizontalScrollBar()->setPageStep(vp.width());
    verticalScrollBar()->setPageStep(vp.height());
}

void CLumadriftView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void CLumadriftView::ApplyZoom()
{
    const int z = doc_.zoom();
    ImageSettings& s = doc_.settings();
    const ProcessingRange r = s.range;
    s.displayRange = {ToDisplay(z, r.left), ToDisplay(z, r.top), ToDisplay(z, r.right),
                      ToDisplay(z, r.bottom)};
    lineDisp_ = {ToDisplay(z, lineImg_.left), ToDisplay(z, lineImg_.top),
                 ToDisplay(z, lineImg_.right), ToDisplay(z, lineImg_.bottom)};
    UpdateScrollBars();
    viewport()->update();
}

ViewRect CLumadriftView::StoredFrame() const
{
    const ProcessingRange& d = doc_.settings().displayRange;
    return {d.left + kViewMargin, d.top + kViewMargin, d.right + kViewMargin,
            d.bottom + kViewMargin};
}

void CLumadriftView::StoreRange(const ViewRect& withMargin)
{
    const StoredRange s = StoreRect(withMargin, doc_.zoom());
    doc_.settings().displayRange = {s.display.left, s.display.top, s.display.right,
                                    s.display.bottom};
    doc_.setRange({s.image.left, s.image.top, s.image.right, s.image.bottom});
}

void CLumadriftView::ShowStoredRange()
{
    const ProcessingRange r = doc_.range();
    Q_EMIT rangeShown(r.left, r.top, r.right, r.bottom);
}

void CLumadriftView::SetSelectedItems(const std::vector<int>& items)
{
    selected_ = items;
    viewport()->update();
}

void CLumadriftView::DrawOverlays(QImage& target, int ox, int oy) const
{
    const int z = doc_.zoom();
    const ImageSettings& s = doc_.settings();
    auto shift = [ox, oy](ViewRect r) {
        r.left -= ox;
        r.right -= ox;
        r.top -= oy;
        r.bottom -= oy;
        return r;
    };
    const int state = doc_.state();
    if (state == kStateRangeEdit) {
        if (dragState_ == 0)
            DrawRangeFrame(target, shift(StoredFrame()), s.mouseColor, z);
        else if (lastDrawnShown_)
            DrawRangeFrame(target, shift(lastDrawn_), s.mouseColor, z);
    } else if (state == kStateLabeled && !selected_.empty()) {
        const PlaneBank& bank = doc_.planes();
        const uint8_t* p = bank.GetPlane(doc_.currentPlane());
        const int side = ToDisplay(z, 1);
        if (p && side > 0) {
            QPainter painter(&target);
            const QColor c = FromColorRef(s.resultColor);
            bool wanted[256] = {};
            for (int v : selected_)
                if (v >= 0 && v < 256)
                    wanted[v] = true;
            for (int y = 0; y < bank.height(); ++y)
                for (int x = 0; x < bank.width(); ++x)
                    if (wanted[p[static_cast<size_t>(y) * bank.width() + x]])
                        painter.fillRect(ToDisplay(z, x) + kViewMargin - ox,
                                         ToDisplay(z, y) + kViewMargin - oy, side, side, c);
        }
    } else if (state == kStateProfile) {
        if (doc_.hasProfileSamples()) {
            const ProfileLine& e = doc_.profileEnds();
            const ViewRect ends{e.x1, e.y1, e.x2, e.y2};
            // The display start of the ordered line: the stored end that the
            // document took as its start.
            const ProfileLine& stored = doc_.profileLine();
            const bool swapped = stored.x1 != e.x1 || stored.y1 != e.y1;
            const int dx1 = swapped ? lineDisp_.right : lineDisp_.left;
            const int dy1 = swapped ? lineDisp_.bottom : lineDisp_.top;
            const int orientation = s.profileOrientation;
            const ProfileGraph g = LayoutProfileGraph(doc_.ProfileSamples(), orientation, ends,
                                                      dx1, dy1, z, doc_.imageWidth());
            QPainter painter(&target);
            painter.translate(-ox, -oy);
            painter.setPen(QPen(FromColorRef(s.graphColor), 1));
            for (const auto& l : g.curve)
                painter.drawLine(l.x1, l.y1, l.x2, l.y2);
            for (const auto& l : g.axes)
                painter.drawLine(l.x1, l.y1, l.x2, l.y2);
            for (const auto& t : g.labels)
                painter.drawText(QRect(t.x, t.y, 100, 40), Qt::AlignLeft | Qt::AlignTop,
                                 QString::fromStdString(t.text));
            painter.setPen(QPen(FromColorRef(s.resultColor), 1));
            for (const auto& l : LayoutProfileMarkers(selected_, orientation, ends, z))
                painter.drawLine(l.x1, l.y1, l.x2, l.y2);
            painter.end();
            DrawProfileLine(target,
                            shift({lineDisp_.left + 5, lineDisp_.top + 5, lineDisp_.right + 5,
                                   lineDisp_.bottom + 5}),
                            s.mouseColor, z);
        }
        if (lineDragging_)
            DrawProfileLine(target, shift(lineDrawn_), s.mouseColor, z);
    }
}

QImage CLumadriftView::RenderViewport() const
{
    QImage buf(viewport()->size(), QImage::Format_RGB32);
    buf.fill(viewport()->palette().color(QPalette::Base));
    const int ox = horizontalScrollBar()->value();
    const int oy = verticalScrollBar()->value();
    if (!image_.isNull()) {
        QPainter p(&buf);
        const int z = doc_.zoom() > 0 ? doc_.zoom() : 100;
        p.drawImage(QRect(kViewMargin - ox, kViewMargin - oy, ToDisplay(z, image_.width()),
                          ToDisplay(z, image_.height())),
                    image_);
    }
    DrawOverlays(buf, ox, oy);
    return buf;
}

void CLumadriftView::paintEvent(QPaintEvent*)
{
    RebuildIfPending();
    QPainter painter(viewport());
    painter.drawImage(0, 0, RenderViewport());
}

QPoint CLumadriftView::DisplayPos(const QPointF& pos) const
{
    return QPoint(static_cast<int>(pos.x()) + horizontalScrollBar()->value(),
                  static_cast<int>(pos.y()) + verticalScrollBar()->value());
}

void CLumadriftView::ReadOut(const QPoint& p)
{
    const int state = doc_.state();
    const int w = doc_.imageWidth();
    const int h = doc_.imageHeight();
    if (state == kStateNoImage || w <= 0 || h <= 0)
        return;
    const int z = doc_.zoom();
    const int x = std::clamp(p.x() - kViewMargin, ToDisplay(z, 0), ToDisplay(z, w - 1));
    const int y = std::clamp(p.y() - kViewMargin, ToDisplay(z, 0), ToDisplay(z, h - 1));
    const int c = std::clamp(ToImage(z, x), 0, w - 1);
    const int r = std::clamp(ToImage(z, y), 0, h - 1);
    const size_t at = static_cast<size_t>(r) * w + c;
    if (ShowsGrayPlane(state)) {
        const uint8_t* plane = doc_.planes().GetPlane(doc_.currentPlane());
        if (!plane)
            return;
        const int v = plane[at];
        Q_EMIT cursorRead(c, r, v, v, v, v);
        return;
    }
    const uint8_t *rp = nullptr, *gp = nullptr, *bp = nullptr;
    doc_.colors().GetColorPlanes(0, &rp, &gp, &bp);
    if (!rp || !gp || !bp)
        return;
    Q_EMIT cursorRead(c, r, Brightness(rp[at], gp[at], bp[at]), rp[at], gp[at], bp[at]);
}

void CLumadriftView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || dragState_ != 0)
        return;
    const QPoint p = DisplayPos(event->position());
    const int state = doc_.state();
    if (state == kStateRangeEdit) {
        const ViewRect frame = StoredFrame();
        const FrameHitResult hit = HitTestFrame(frame, p.x(), p.y());
        if (hit.hit == FrameHit::kMove) {
            dragState_ = 3;
            lastDrawn_ = frame;
            lastDrawnShown_ = true;
            grab_ = QPoint(frame.left, frame.top) - p;
            far_ = QPoint(frame.right, frame.bottom) - p;
        } else if (hit.hit == FrameHit::kCorner) {
            moving_ = QPoint(hit.movingX, hit.movingY);
            fixed_ = QPoint(hit.fixedX, hit.fixedY);
            grab_ = moving_ - p;
            dragState_ = 2;
            lastDrawn_ = frame;
            lastDrawnShown_ = true;
        } else {
            // A new band: the old frame goes, the range starts empty.
            dragState_ = 1;
            lastDrawnShown_ = false;
            grab_ = far_ = QPoint();
            doc_.settings().displayRange = {0, 0, 0, 0};
            doc_.setRange({0, 0, 0, 0});
            fixed_ = moving_ = p;
            dragState_ = 2;
        }
        viewport()->update();
    } else if (state == kStateProfile) {
        grab_ = far_ = QPoint();
        lineDisp_ = {0, 0, lineDisp_.right, lineDisp_.bottom};
        lineImg_ = {0, 0, lineImg_.right, lineImg_.bottom};
        doc_.ClearProfile();
        fixed_ = moving_ = p;
        lineDrawn_ = {p.x(), p.y(), p.x(), p.y()};
        lineDragging_ = true;
        dragState_ = 2;
        viewport()->update();
    }
}

void CLumadriftView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = DisplayPos(event->position());
    ReadOut(p);
    const int state = doc_.state();
    const int z = doc_.zoom();
    const int w = doc_.imageWidth();
    const int h = doc_.imageHeight();
    if (state == kStateRangeEdit) {
        static const Qt::CursorShape shapes[] = {Qt::ArrowCursor, Qt::CrossCursor,
                                                 Qt::SizeFDiagCursor, Qt::SizeBDiagCursor,
                                                 Qt::SizeAllCursor};
        viewport()->setCursor(shapes[static_cast<int>(RangeCursor(StoredFrame(), p.x(), p.y()))]);
        if (dragState_ == 1 || dragState_ == 2) {
            moving_ = p + grab_;
            ViewRect r = NormalizedRect({fixed_.x(), fixed_.y(), moving_.x(), moving_.y()});
            r = FitRect(FitRect(r, 1, z, w, h), 0, z, w, h);
            lastDrawn_ = r;
            lastDrawnShown_ = true;
            StoreRange(r);
            ShowStoredRange();
            viewport()->update();
        } else if (dragState_ == 3) {
            const QPoint lt = p + grab_;
            const QPoint rb = p + far_;
            const ViewRect r = FitRect({lt.x(), lt.y(), rb.x(), rb.y()}, 1, z, w, h);
            lastDrawn_ = r;
            lastDrawnShown_ = true;
            StoreRange(r);
            ShowStoredRange();
            viewport()->update();
        }
    } else if (state == kStateProfile) {
        viewport()->setCursor(Qt::CrossCursor);
        if (dragState_ != 0) {
            moving_ = p;
            lineDrawn_ = FitRect({fixed_.x(), fixed_.y(), moving_.x(), moving_.y()}, 0, z, w, h);
            viewport()->update();
        }
    } else {
        viewport()->unsetCursor();
    }
}

void CLumadriftView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = DisplayPos(event->position());
    const int state = doc_.state();
    const int z = doc_.zoom();
    const int w = doc_.imageWidth();
    const int h = doc_.imageHeight();
    if (state == kStateRangeEdit && dragState_ == 2) {
        moving_ = p + grab_;
        dragState_ = 0;
        StoreRange(FitRect({fixed_.x(), fixed_.y(), moving_.x(), moving_.y()}, 0, z, w, h));
        viewport()->update();
    } else if (state == kStateRangeEdit && dragState_ == 3) {
        const QPoint lt = p + grab_;
        const QPoint rb = p + far_;
        dragState_ = 0;
        StoreRange(FitRect({lt.x(), lt.y(), rb.x(), rb.y()}, 1, z, w, h));
        viewport()->update();
    } else if (state == kStateProfile && dragState_ != 0) {
        const ViewRect l = FitRect({fixed_.x(), fixed_.y(), p.x(), p.y()}, 0, z, w, h);
        lineDisp_ = {l.left - kViewMargin, l.top - kViewMargin, l.right - kViewMargin,
                     l.bottom - kViewMargin};
        lineImg_ = {ToImage(z, lineDisp_.left), ToImage(z, lineDisp_.top),
                    ToImage(z, lineDisp_.right), ToImage(z, lineDisp_.bottom)};
        dragState_ = 0;
        lineDragging_ = false;
        // The table follows through OnProfileChanged; a one-point line
        // leaves it as it is.
        doc_.ComputeProfile(lineImg_.left, lineImg_.top, lineImg_.right, lineImg_.bottom);
        viewport()->update();
    }
}

void CLumadriftView::ToggleRangeDisplay()
{
    if (doc_.ToggleRangeEdit() != 0)
        return;
    const int z = doc_.zoom();
    const int w = doc_.imageWidth();
    const int h = doc_.imageHeight();
    StoreRange(FitRect(FitRect(StoredFrame(), 1, z, w, h), 0, z, w, h));
    viewport()->update();
    ShowStoredRange();
}

void CLumadriftView::ApplyRangeBoxes(const QString& x, const QString& y, const QString& w,
                                     const QString& h)
{
    const int state = doc_.state();
    if (state != kStateColor && state != kStateRangeEdit)
        return;
    const ViewRect r = RectFromBoxes(BoxValue(x.toStdString()), BoxValue(y.toStdString()),
                                     BoxValue(w.toStdString()), BoxValue(h.toStdString()),
                                     doc_.zoom(), doc_.imageWidth(), doc_.imageHeight());
    StoreRange(r);
    viewport()->update();
    ShowStoredRange();
}

void CLumadriftView::Warn(const QString& text)
{
    QMessageBox::warning(this, QStringLiteral("Lumadrift"), text);
}

bool CLumadriftView::OnCommand(int id)
{
    switch (id) {
    case kCmdZoom: OnZoomDialog(); break;
    case kCmdColors: OnColorSettings(); break;
    case kCmdRange: ToggleRangeDisplay(); break;
    case kCmdAcquire: OnAcquire(); break;
    case kCmdShowSource: selected_.clear(); doc_.ShowSourcePicture(); break;
    case kCmdPool: OnPool(); break;
    case kCmdProfile: OnToggleProfile(); break;
    case kCmdBinarize: OnBinarize(); break;
    case kCmdLabel: OnLabeling(); break;
    case kCmdContrast: OnDensity(false); break;
    case kCmdGamma: OnDensity(true); break;
    case kCmdMovingAverage:
    case kCmdMedian:
    case kCmdRank: OnKernel(id); break;
    case kCmdConvolution: OnConvolution(); break;
    case kCmdAffine: OnAffine(); break;
    case kCmdFft: OnFft(); break;
    case kCmdAnd:
    case kCmdOr:
    case kCmdXor: OnInterImage(id); break;
    case kCmdPreview: TogglePreview(); break;
    case kCmdCapture: Capture(); break;
    default: {
        // Operations without a dialog run straight from the table.
        const CommandInfo* c = FindCommand(id);
        const OperationRow* op = c && c->code >= 0 ? FindOperation(c->code) : nullptr;
        if (!op || op->parameterLine)
            return false;
        RunWithoutParameters(doc_, op->code);
        break;
    }
    }
    viewport()->update();
    return true;
}

void CLumadriftView::TogglePreview()
{
    image_ = QImage();
    if (previewOpen_) {
        CloseCamera();
        doc_.setZoom(100);
        doc_.StopCameraPreview();
        viewport()->update();
        return;
    }
    doc_.StartCameraPreview();  // untitled, no picture, zoom 100
    OpenCamera(true);
    viewport()->update();
}

void CLumadriftView::Capture()
{
    // The document stops the camera through the hook.
    doc_.CaptureCamera();
    viewport()->update();
}

bool CLumadriftView::OpenCamera(bool interactive)
{
    CloseCamera();
    previewOpen_ = true;
    cameraFailing_ = false;
    const int session = ++cameraSession_;
    camera_ = cameraFactory_ ? cameraFactory_() : MakeCaptureSource();
    CaptureSource::StartResult started;
    if (camera_) {
        camera_->SetFrameCallback(
            [this, session](const CameraFrame& f) { OnCameraFrame(session, f); });
        camera_->SetErrorCallback([this, session](const std::string& text) {
            FailCamera(session, QString::fromStdString(text));
        });
        const ImageSettings& s = doc_.settings();
        started = camera_->Start(s.cameraWidth, s.cameraHeight);
        if (started.ok)
            return true;
    }
    CloseCamera();
    if (!interactive)
        return false;  // the replay logs the refused line
    // The preview stays open until the switch-off that follows the message,
    // as after any other camera failure.
    previewOpen_ = true;
    FailCamera(session, QString::fromStdString(started.message));
    return false;
}

void CLumadriftView::OnCameraFrame(int session, const CameraFrame& f)
{
    if (session != cameraSession_ || cameraFailing_ || !camera_)
        return;
    const int state = doc_.state();
    if (state != kStateNoImage && state != kStateCamera) {
        // Something else (an opened file) has replaced the live picture.
        CloseCamera();
        return;
    }
    if (doc_.SetCameraFrame(f.bgr, f.width, f.height, f.stride) != 0)
        FailCamera(session, QString::fromUtf8(kCameraFrameInvalidText));
    // The document's change notice has rebuilt the picture and the scroll
    // area and asked for the repaint.
}

void CLumadriftView::FailCamera(int session, const QString& text)
{
    if (session != cameraSession_ || cameraFailing_)
        return;  // a stale preview, or one message per failure however many frames follow
    cameraFailing_ = true;
    if (camera_)
        camera_->Stop();
    // Shown and switched off from the event loop, never inside the source's
    // own callback; a newer preview makes this one moot.
    QTimer::singleShot(0, this, [this, session, text] {
        if (session != cameraSession_ || !previewOpen_)
            return;
        if (!text.isEmpty())
            Warn(text);
        if (session == cameraSession_ && previewOpen_)  // still so after the modal message
            Q_EMIT commandRequested(kCmdPreview);
    });
}

void CLumadriftView::CloseCamera()
{
    previewOpen_ = false;
    if (camera_) {
        camera_->Stop();
        retiredCamera_ = std::move(camera_);
    }
}

void CLumadriftView::OnZoomDialog()
{
    CZoomDlg dlg(doc_.zoom(), this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    doc_.setZoom(dlg.zoom());  // the observer applies it and syncs the zoom box
}

void CLumadriftView::OnColorSettings()
{
    ImageSettings& s = doc_.settings();
    CColorSettingsDlg dlg(this);
    dlg.setColors(s.mouseColor, s.graphColor, s.resultColor);
    if (dlg.exec() != QDialog::Accepted)
        return;
    // The frame is drawn from the stored colours at every paint, so the old
    // frame goes and the new one appears at the repaint.
    s.mouseColor = dlg.mouseColor();
    s.graphColor = dlg.graphColor();
    s.resultColor = dlg.resultColor();
    viewport()->update();
}

void CLumadriftView::OnAcquire()
{
    CAcquireDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const AcquireParams a = dlg.params();
    selected_.clear();
    doc_.Acquire(doc_.AcquireInRange(a.channel, a.invert, a.baseAngle));
}

void CLumadriftView::OnBinarize()
{
    doc_.BeginBinarize();  // the boxes start from the thresholds it settled
    CBinarizeDlg dlg(doc_.settings().binarize, this);
    if (QWidget* top = window()) {
        const QRect g = top->frameGeometry();
        dlg.adjustSize();
        dlg.move(g.right() - dlg.frameGeometry().width() + 1, g.top());
    }
    dlg.setHistogram(doc_.PreviewSourceHistogram());
    connect(&dlg, &CBinarizeDlg::paramsChanged, this,
            [this](int lo, int hi) { doc_.PreviewBinarize({lo, hi}); });
    const bool ok = dlg.exec() == QDialog::Accepted;
    doc_.CompleteBinarize(ok, dlg.params());
}

void CLumadriftView::OnLabeling()
{
    const LabelOutcome outcome = doc_.BeginLabeling();
    selected_.clear();
    RebuildIfPending();
    CLabelingResultDlg dlg(doc_, this);
    if (QWidget* top = window()) {
        const QRect g = top->frameGeometry();
        dlg.move(g.right() - dlg.frameGeometry().width() + 1, g.top());
    }
    connect(&dlg, &CLabelingResultDlg::selectionChanged, this,
            &CLumadriftView::SetSelectedItems);
    // Exactly 255 objects are all labeled and listed: no message for them.
    if (outcome.incomplete)
        QTimer::singleShot(0, &dlg, [this] {
            Warn(QStringLiteral("ﾗﾍﾞﾘﾝｸﾞ結果が最大値(255)を超えています。\n結果は完全ではありません。"));
        });
    dlg.exec();
    selected_.clear();
    doc_.CompleteLabeling();
    FocusBackToView();
}

void CLumadriftView::OnDensity(bool gamma)
{
    ImageSettings& s = doc_.settings();
    CDensityDlg dlg(gamma, gamma ? s.gamma.value : s.contrast.factor, this);
    dlg.setHistogram(doc_.CurrentHistogram());
    if (dlg.exec() != QDialog::Accepted)
        return;
    if (gamma)
        doc_.GammaImage({dlg.value()});
    else
        doc_.ContrastImage({dlg.value()});
}

void CLumadriftView::OnKernel(int id)
{
    const ImageSettings& s = doc_.settings();
    RankParams k = s.rank;
    if (id != kCmdRank)
        k = {id == kCmdMovingAverage ? s.movingAverage.x : s.median.x,
             id == kCmdMovingAverage ? s.movingAverage.y : s.median.y, 0, 0};
    CKernelDlg dlg(id == kCmdRank, this);
    dlg.setWindowTitle(id == kCmdMovingAverage ? QStringLiteral("移動平均")
                       : id == kCmdMedian     ? QStringLiteral("ﾒﾃﾞｨｱﾝ")
                                              : QStringLiteral("ﾗﾝｸ指定"));
    dlg.setParams(k);
    if (dlg.exec() != QDialog::Accepted)
        return;
    k = dlg.params();
    if (id == kCmdMovingAverage)
        doc_.MovingAverageImage({k.x, k.y});
    else if (id == kCmdMedian)
        doc_.MedianImage({k.x, k.y});
    else
        doc_.RankImage(k);
}

void CLumadriftView::OnConvolution()
{
    const ImageSettings& s = doc_.settings();
    CConvolutionDlg dlg(QString::fromStdString(doc_.dirs().filterDir), this);
    dlg.setParams(s.convolution);
    // A kernel file the document refuses keeps the dialog open.
    while (dlg.exec() == QDialog::Accepted) {
        if (doc_.ConvolveImage(dlg.params()) == 0)
            return;
        Warn(QStringLiteral("ｶｰﾈﾙ ﾌｧｲﾙが不正です"));
    }
}

void CLumadriftView::OnAffine()
{
    const ImageSettings& s = doc_.settings();
    CAffineDlg dlg(this);
    dlg.setParams(s.affine);
    if (dlg.exec() != QDialog::Accepted)
        return;
    doc_.AffineImage(dlg.params());
}

void CLumadriftView::OnPool()
{
    CPoolDlg dlg(doc_, this);
    dlg.exec();
}

void CLumadriftView::OnInterImage(int id)
{
    const BitOp op = id == kCmdAnd ? BitOp::kAnd : id == kCmdOr ? BitOp::kOr : BitOp::kXor;
    CInterImageDlg dlg(doc_, op, this);
    if (dlg.exec() == QDialog::Accepted)
        doc_.InterImage(op, {dlg.targetId(), dlg.referenceId()});
}

void CLumadriftView::OnToggleProfile()
{
    selected_.clear();
    doc_.ToggleProfile();  // the window follows through OnProfileChanged
    FocusBackToView();
}

void CLumadriftView::FocusBackToView()
{
    if (QWidget* top = window())
        top->activateWindow();
    setFocus(Qt::OtherFocusReason);
}

void CLumadriftView::SyncProfileWindow()
{
    const bool profile = doc_.state() == kStateProfile;
    if (profile && !profileWnd_) {
        auto* wnd = new CProfileResultWnd(doc_, this);
        profileWnd_ = wnd;
        connect(wnd, &CProfileResultWnd::closeRequested, this,
                [this] { Q_EMIT commandRequested(kCmdProfile); });
        connect(wnd, &CProfileResultWnd::selectionChanged, this,
                &CLumadriftView::SetSelectedItems);
        // On top, but the keys stay with the picture.
        wnd->setAttribute(Qt::WA_ShowWithoutActivating);
        wnd->PlaceAt(window());
        wnd->show();
        wnd->raise();
        FocusBackToView();
    } else if (!profile && profileWnd_) {
        // The window may be closing from its own close box, inside its own
        // event: it goes once that event is over.
        CProfileResultWnd* wnd = profileWnd_;
        profileWnd_ = nullptr;
        wnd->hide();
        wnd->deleteLater();
        selected_.clear();
    }
    viewport()->update();
}

void CLumadriftView::OnFft()
{
    const int begun = doc_.BeginFft();
    if (begun == -1) {
        Warn(QStringLiteral("ｽﾚｯﾄﾞの生成数が上限を超えています"));
        return;
    }
    if (begun < 0) {
        Warn(QString::fromUtf8(kFftCannotStartText));
        return;
    }
    const ImageSettings& s = doc_.settings();
    CFftDlg dlg(
        QString::fromStdString(doc_.dirs().filterDir),
        [this](const std::string& p) { return doc_.SetFftMaskFile(p); },
        [this](const std::string& p) { return doc_.SaveFftMask(p); }, this);
    connect(&dlg, &CFftDlg::paramsChanged, this,
            [this](double lo, double hi, int shape) { doc_.PreviewFft({lo, hi, shape, {}}); });
    dlg.setParams(s.fft);
    if (QWidget* top = window()) {
        dlg.adjustSize();
        dlg.move(top->frameGeometry().right() - dlg.frameGeometry().width() + 1,
                 top->frameGeometry().top());
    }
    const bool ok = dlg.exec() == QDialog::Accepted;
    doc_.CompleteFft(ok, dlg.params());
}

}  // namespace lumadrift
