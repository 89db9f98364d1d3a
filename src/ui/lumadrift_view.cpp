#include "ui/lumadrift_view.h"

#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

namespace lumadrift {

namespace {
constexpr int kMargin = 5;
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

CLumadriftView::CLumadriftView(CLumadriftDoc& doc, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc)
{
    doc_.SetObserver(this);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

CLumadriftView::~CLumadriftView()
{
    doc_.SetObserver(nullptr);
}

void CLumadriftView::OnImageChanged()
{
    RebuildIfPending();
    UpdateScrollBars();
    viewport()->update();
}

void CLumadriftView::OnZoomChanged(int)
{
    UpdateScrollBars();
    viewport()->update();
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
    const int w = image_.isNull() ? 0 : image_.width() * zoom / 100 + 2 * kMargin;
    const int h = image_.isNull() ? 0 : image_.height() * zoom / 100 + 2 * kMargin;
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

void CLumadriftView::paintEvent(QPaintEvent*)
{
    RebuildIfPending();
    if (image_.isNull())
        return;
    QPainter painter(viewport());
    const int zoom = doc_.zoom() > 0 ? doc_.zoom() : 100;
    const QRect target(kMargin - horizontalScrollBar()->value(),
                       kMargin - verticalScrollBar()->value(), image_.width() * zoom / 100,
                       image_.height() * zoom / 100);
    painter.drawImage(target, image_);
}

}  // namespace lumadrift
