// Histogram displays of the parameter dialogs: the gray histogram of the
// plane a dialog works on, 256 bins, on a linear or logarithmic scale.
//
// CThresholdPanel (binarization): the histogram with MIN and MAX drawn on
// it, dragging on it moves the nearer threshold, and buttons that suggest
// MIN by the automatic threshold methods.
// CDensityHistograms (contrast, gamma): the histogram before and after the
// conversion with the value being typed.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <cstdint>

#include "filters/auto_threshold.h"

namespace lumadrift {

class CHistogramWidget : public QWidget {
    Q_OBJECT
public:
    explicit CHistogramWidget(QWidget* parent = nullptr);

    void setHistogram(const GrayHistogram& h);
    const GrayHistogram& histogram() const { return hist_; }
    void setLogScale(bool on);
    bool logScale() const { return log_; }
    // MIN and MAX markers, and whether the mouse moves them.
    void setThresholds(int min, int max);
    void setThresholdsShown(bool on);
    int minValue() const { return thresholds_[0]; }
    int maxValue() const { return thresholds_[1]; }

    // Height of bin v as a fraction of the plot's height (the fullest bin
    // is 1; logarithmic: log(1 + n) / log(1 + fullest)).
    double BarFraction(int v) const;
    // The widget column at the middle of bin v, and the bin under column x
    // (clamped to 0..255).
    int XOf(int v) const;
    int ValueAt(int x) const;
    // Which threshold a press on bin v takes: 0 MIN, 1 MAX, whichever is
    // nearer; on a tie MIN when v is at or below it, else MAX.
    int NearerThreshold(int v) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The operator pressed or dragged on bin value, moving threshold which.
    void thresholdDragged(int which, int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect PlotRect() const;
    GrayHistogram hist_{};
    uint64_t fullest_ = 0;
    bool log_ = false;
    bool shown_ = false;
    int thresholds_[2] = {0, 0};
    int dragging_ = -1;  // the threshold being dragged, -1 none
};

class CThresholdPanel : public QWidget {
    Q_OBJECT
public:
    explicit CThresholdPanel(QWidget* parent = nullptr);
    void setHistogram(const GrayHistogram& h);
    void setThresholds(int min, int max);
    CHistogramWidget* histogramWidget() const { return hist_; }
    QCheckBox* logBox() const { return log_; }
    // In the order of AutoThresholdMethod: Otsu, Triangle, IsoData, Li, mean.
    QPushButton* methodButton(int i) const { return methods_[i]; }

Q_SIGNALS:
    // A threshold chosen on the histogram (which 0 MIN, 1 MAX) or a
    // suggested MIN (which 0); the dialog takes it as if typed.
    void thresholdChosen(int which, int value);

private:
    CHistogramWidget* hist_ = nullptr;
    QCheckBox* log_ = nullptr;
    QPushButton* methods_[5] = {};
};

// The histogram after a look-up table: every count of v moves to table[v].
GrayHistogram MapHistogram(const GrayHistogram& h, const uint8_t table[256]);

class CDensityHistograms : public QWidget {
    Q_OBJECT
public:
    CDensityHistograms(bool gamma, QWidget* parent = nullptr);
    void setHistogram(const GrayHistogram& before);
    // The "after" follows the value through the filter's own table; a gamma
    // the filter refuses leaves it empty.
    void setValue(double value);
    CHistogramWidget* before() const { return before_; }
    CHistogramWidget* after() const { return after_; }
    QCheckBox* logBox() const { return log_; }

private:
    void Recompute();
    bool gamma_;
    double value_ = 1.0;
    CHistogramWidget* before_ = nullptr;
    CHistogramWidget* after_ = nullptr;
    QCheckBox* log_ = nullptr;
};

}  // namespace lumadrift
