#include "ui/histogram_widget.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "filters/density.h"

namespace lumadrift {

namespace {

constexpr int kBins = 256;
// One bin per column at least, so every bin shows and a column maps back to
// its bin.
constexpr int kMinPlotWidth = kBins;
constexpr int kBorder = 1;

const QColor kMinColor(0, 90, 200);
const QColor kMaxColor(200, 40, 40);

}  // namespace

// --- the plot ------------------------------------------------------------------

CHistogramWidget::CHistogramWidget(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize CHistogramWidget::sizeHint() const { return {kMinPlotWidth + 2 * kBorder, 100}; }
QSize CHistogramWidget::minimumSizeHint() const { return {kMinPlotWidth + 2 * kBorder, 48}; }

void CHistogramWidget::setHistogram(const GrayHistogram& h)
{
    hist_ = h;
    fullest_ = *std::max_element(hist_.begin(), hist_.end());
    update();
}

void CHistogramWidget::setLogScale(bool on)
{
    log_ = on;
    update();
}

void CHistogramWidget::setThresholds(int min, int max)
{
    thresholds_[0] = std::clamp(min, 0, 255);
    thresholds_[1] = std::clamp(max, 0, 255);
    update();
}

void CHistogramWidget::setThresholdsShown(bool on)
{
    shown_ = on;
    setCursor(on ? Qt::SizeHorCursor : Qt::ArrowCursor);
    update();
}

double CHistogramWidget::BarFraction(int v) const
{
    if (v < 0 || v >= kBins || fullest_ == 0)
        return 0.0;
    const double n = static_cast<double>(hist_[static_cast<size_t>(v)]);
    const double top = static_cast<double>(fullest_);
    // Sparse levels next to a dominant background still show on the log
    // scale: one pixel already lifts its bar.
    return log_ ? std::log1p(n) / std::log1p(top) : n / top;
}

QRect CHistogramWidget::PlotRect() const
{
    return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
}

int CHistogramWidget::XOf(int v) const
{
    const QRect r = PlotRect();
    return r.left() + static_cast<int>((v + 0.5) * r.width() / kBins);
}

int CHistogramWidget::ValueAt(int x) const
{
    const QRect r = PlotRect();
    if (r.width() <= 0)
        return 0;
    const int v = static_cast<int>(std::floor((x - r.left() + 0.5) * kBins / r.width()));
    return std::clamp(v, 0, kBins - 1);
}

int CHistogramWidget::NearerThreshold(int v) const
{
    const int dMin = std::abs(v - thresholds_[0]);
    const int dMax = std::abs(v - thresholds_[1]);
    if (dMin != dMax)
        return dMin < dMax ? 0 : 1;
    return v <= thresholds_[0] ? 0 : 1;
}

void CHistogramWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect r = PlotRect();
    auto binLeft = [&r](int v) { return r.left() + v * r.width() / kBins; };
    if (shown_) {
        // Shade the levels that binarization turns white: strictly between
        // MIN and MAX, or outside them when MIN is above MAX.
        const int lo = thresholds_[0], hi = thresholds_[1];
        const QColor band(255, 236, 160);
        auto shade = [&](int from, int to) {  // bins from..to inclusive
            if (from <= to)
                p.fillRect(QRect(QPoint(binLeft(from), r.top()), QPoint(binLeft(to + 1) - 1, r.bottom())),
                           band);
        };
        if (lo < hi) {
            shade(lo + 1, hi - 1);
        } else if (lo > hi) {
            shade(0, hi);
            shade(lo, kBins - 1);
        }
    }
    const QColor bar = palette().color(QPalette::Text);
    for (int v = 0; v < kBins; ++v) {
        const int h = static_cast<int>(std::lround(BarFraction(v) * r.height()));
        if (h <= 0)
            continue;
        const int x0 = binLeft(v);
        const int x1 = std::max(x0 + 1, binLeft(v + 1));
        p.fillRect(QRect(x0, r.bottom() + 1 - h, x1 - x0, h), bar);
    }
    if (shown_) {
        const QColor colors[2] = {kMinColor, kMaxColor};
        for (int i = 0; i < 2; ++i) {
            p.setPen(QPen(colors[i], 2));
            const int x = XOf(thresholds_[i]);
            p.drawLine(x, r.top(), x, r.bottom());
        }
    }
}

void CHistogramWidget::mousePressEvent(QMouseEvent* event)
{
    if (!shown_ || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const int v = ValueAt(static_cast<int>(event->position().x()));
    dragging_ = NearerThreshold(v);
    Q_EMIT thresholdDragged(dragging_, v);
}

void CHistogramWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ < 0)
        return QWidget::mouseMoveEvent(event);
    Q_EMIT thresholdDragged(dragging_, ValueAt(static_cast<int>(event->position().x())));
}

void CHistogramWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragging_ >= 0 && event->button() == Qt::LeftButton)
        dragging_ = -1;
    QWidget::mouseReleaseEvent(event);
}

// --- binarization ----------------------------------------------------------------

CThresholdPanel::CThresholdPanel(QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* group = new QGroupBox(QStringLiteral("ﾋｽﾄｸﾞﾗﾑ"), this);
    auto* layout = new QVBoxLayout(group);
    hist_ = new CHistogramWidget(group);
    hist_->setObjectName(QStringLiteral("thresholdHistogram"));
    hist_->setThresholdsShown(true);
    // A click first takes the focus from a threshold box, so a value typed
    // there is taken before the click moves a threshold.
    hist_->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(hist_);
    auto* row = new QHBoxLayout;
    log_ = new QCheckBox(QStringLiteral("対数表示"), group);
    row->addWidget(log_);
    row->addStretch();
    row->addWidget(new QLabel(QStringLiteral("自動:"), group));
    const char* names[5] = {"Otsu", "Triangle", "IsoData", "Li", "平均"};
    const AutoThresholdMethod methods[5] = {AutoThresholdMethod::kOtsu, AutoThresholdMethod::kTriangle,
                                            AutoThresholdMethod::kIsoData, AutoThresholdMethod::kLi,
                                            AutoThresholdMethod::kMean};
    for (int i = 0; i < 5; ++i) {
        methods_[i] = new QPushButton(QString::fromUtf8(names[i]), group);
        // Enter in a threshold box must still mean OK.
        methods_[i]->setAutoDefault(false);
        row->addWidget(methods_[i]);
        connect(methods_[i], &QPushButton::clicked, this, [this, m = methods[i]] {
            // A suggestion only ever moves MIN; an empty histogram has none.
            const int min = ThresholdToMin(AutoThreshold(m, hist_->histogram()));
            if (min >= 0)
                Q_EMIT thresholdChosen(0, min);
        });
    }
    layout->addLayout(row);
    outer->addWidget(group);
    connect(log_, &QCheckBox::toggled, hist_, &CHistogramWidget::setLogScale);
    connect(hist_, &CHistogramWidget::thresholdDragged, this, &CThresholdPanel::thresholdChosen);
}

void CThresholdPanel::setHistogram(const GrayHistogram& h) { hist_->setHistogram(h); }
void CThresholdPanel::setThresholds(int min, int max) { hist_->setThresholds(min, max); }

// --- density conversion ---------------------------------------------------------

GrayHistogram MapHistogram(const GrayHistogram& h, const uint8_t table[256])
{
    GrayHistogram out{};
    for (int v = 0; v < kBins; ++v)
        out[table[v]] += h[static_cast<size_t>(v)];
    return out;
}

CDensityHistograms::CDensityHistograms(bool gamma, QWidget* parent) : QWidget(parent), gamma_(gamma)
{
    auto* g = new QGridLayout(this);
    g->setContentsMargins(0, 0, 0, 0);
    before_ = new CHistogramWidget(this);
    after_ = new CHistogramWidget(this);
    before_->setObjectName(QStringLiteral("histogramBefore"));
    after_->setObjectName(QStringLiteral("histogramAfter"));
    g->addWidget(new QLabel(QStringLiteral("変換前"), this), 0, 0, Qt::AlignTop);
    g->addWidget(before_, 0, 1);
    g->addWidget(new QLabel(QStringLiteral("変換後"), this), 1, 0, Qt::AlignTop);
    g->addWidget(after_, 1, 1);
    log_ = new QCheckBox(QStringLiteral("対数表示"), this);
    g->addWidget(log_, 2, 1);
    connect(log_, &QCheckBox::toggled, this, [this](bool on) {
        before_->setLogScale(on);
        after_->setLogScale(on);
    });
}

void CDensityHistograms::setHistogram(const GrayHistogram& before)
{
    before_->setHistogram(before);
    Recompute();
}

void CDensityHistograms::setValue(double value)
{
    value_ = value;
    Recompute();
}

void CDensityHistograms::Recompute()
{
    // The filter's own tables, so the picture shows what OK will produce.
    uint8_t table[256];
    bool ok = true;
    if (gamma_)
        ok = GammaTable(value_, table);
    else
        ContrastTable(value_, table);
    after_->setHistogram(ok ? MapHistogram(before_->histogram(), table) : GrayHistogram{});
}

}  // namespace lumadrift
