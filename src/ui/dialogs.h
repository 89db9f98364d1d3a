// The parameter dialogs. Each gathers values and hands them back through
// params(); the view calls the document's entry with them.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

#include "core/acquisition.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/derivative.h"
#include "filters/fft.h"
#include "filters/interimage.h"
#include "filters/smoothing.h"
#include "ui/histogram_widget.h"

namespace lumadrift {

class CLumadriftDoc;

// Zoom ("ｽﾞｰﾑ"): six presets and "指定" with a typed value.
class CZoomDlg : public QDialog {
    Q_OBJECT
public:
    explicit CZoomDlg(int zoom, QWidget* parent = nullptr);
    int zoom() const { return zoom_; }
    QRadioButton* preset(int i) const { return radios_[i]; }  // 6: "指定"
    QLineEdit* valueBox() const { return edit_; }
    void accept() override;

private:
    int zoom_;
    QRadioButton* radios_[7] = {};
    QLineEdit* edit_ = nullptr;
};

// The lowest zoom the dialog accepts; toImage divides by the zoom.
constexpr int kMinZoom = 1;
constexpr int kMaxZoom = 1600;

// Colour settings ("色設定"): mouse, graph and result colours (0x00BBGGRR).
class CColorButton : public QPushButton {
    Q_OBJECT
public:
    CColorButton(const QString& text, QWidget* parent);
    uint32_t color = 0;
    bool highlighted = false;

Q_SIGNALS:
    // The keyboard focus came to the button (Tab, a click).
    void focused();

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
};

class CColorSettingsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CColorSettingsDlg(QWidget* parent = nullptr);
    void setColors(uint32_t mouse, uint32_t graph, uint32_t result);
    uint32_t mouseColor() const { return buttons_[0]->color; }
    uint32_t graphColor() const { return buttons_[1]->color; }
    uint32_t resultColor() const { return buttons_[2]->color; }
    CColorButton* button(int i) const { return buttons_[i]; }

private:
    void Choose(int i);
    void Highlight(int i);
    CColorButton* buttons_[3] = {};
};

// Acquisition ("画像の取得"): channel, inversion and base angle; the range is
// the document's.
class CAcquireDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAcquireDlg(QWidget* parent = nullptr);
    AcquireParams params() const;
    QRadioButton* channelButton(int i) const { return radios_[i]; }
    QLineEdit* angleBox() const { return angle_; }
    QCheckBox* invertBox() const { return invert_; }

private:
    QRadioButton* radios_[6] = {};
    QLineEdit* angle_ = nullptr;
    QCheckBox* invert_ = nullptr;
    int channel_ = 0;
};

// Binarization ("2値化") with live preview: every change emits paramsChanged.
class CBinarizeDlg : public QDialog {
    Q_OBJECT
public:
    CBinarizeDlg(const BinarizeParams& p, QWidget* parent = nullptr);
    ~CBinarizeDlg() override;
    int minValue() const { return values_[0]; }
    int maxValue() const { return values_[1]; }
    BinarizeParams params() const { return {values_[0], values_[1]}; }
    QScrollBar* scrollBar(int i) const { return bars_[i]; }  // 0 MIN, 1 MAX
    QLineEdit* edit(int i) const { return edits_[i]; }
    // The histogram of the plane the dialog works on, with the thresholds
    // drawn on it and the automatic suggestions.
    void setHistogram(const GrayHistogram& h) { histogram_->setHistogram(h); }
    CThresholdPanel* thresholdPanel() const { return histogram_; }

Q_SIGNALS:
    void paramsChanged(int min, int max);

private:
    // The typed MIN (0) or MAX (1), when the box is left or Enter pressed.
    void CommitBox(int i);
    void SetValue(int i, int v, bool rewriteBox);
    CThresholdPanel* histogram_ = nullptr;
    QScrollBar* bars_[2] = {};
    QLineEdit* edits_[2] = {};
    int values_[2] = {0, 0};
};

// Density conversion ("濃度変換"): contrast factor or gamma.
class CDensityDlg : public QDialog {
    Q_OBJECT
public:
    CDensityDlg(bool gamma, double value, QWidget* parent = nullptr);
    double value() const;
    QLineEdit* valueBox() const { return edit_; }
    // The histogram before the conversion; the one after follows the box.
    void setHistogram(const GrayHistogram& before) { histograms_->setHistogram(before); }
    CDensityHistograms* histograms() const { return histograms_; }

private:
    QLineEdit* edit_ = nullptr;
    CDensityHistograms* histograms_ = nullptr;
};

// Kernel dialog: the window of the moving average and the median, and with
// rank set also the rank position.
class CKernelDlg : public QDialog {
    Q_OBJECT
public:
    CKernelDlg(bool rank, QWidget* parent = nullptr);
    ~CKernelDlg() override;
    void setParams(const RankParams& p);
    RankParams params() const { return params_; }
    QLineEdit* sizeBox(int i) const { return sizes_[i]; }  // 0 X, 1 Y
    QLineEdit* rankBox() const { return rankEdit_; }
    QRadioButton* choiceButton(int i) const { return choices_[i]; }
    void accept() override;

private:
    void OddSize(int i);
    void SetChoice(int c);
    bool rank_ = false;
    RankParams params_;
    QLineEdit* sizes_[2] = {};
    QWidget* rankGroup_ = nullptr;
    QRadioButton* choices_[4] = {};
    QLineEdit* rankEdit_ = nullptr;
};

// Convolution ("2次微分"): 3 x 3, 5 x 5 typed coefficients or a kernel file.
class CConvolutionDlg : public QDialog {
    Q_OBJECT
public:
    CConvolutionDlg(const QString& filterDir, QWidget* parent = nullptr);
    void setParams(const ConvolutionParams& p);
    ConvolutionParams params() const;
    QLineEdit* cell(int r, int c) const { return cells_[r][c]; }
    QRadioButton* modeButton(int i) const { return modes_[i]; }  // 3x3, 5x5, m x n
    QLineEdit* pathBox() const { return path_; }

private:
    void SetMode(int mode);
    int mode_ = 3;
    QString filterDir_;
    QLineEdit* cells_[5][5] = {};
    QRadioButton* modes_[3] = {};
    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
};

// Affine ("ｱﾌｨﾝ変換").
class CAffineDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAffineDlg(QWidget* parent = nullptr);
    void setParams(const AffineParams& p);
    AffineParams params() const;
    QLineEdit* box(int i) const { return boxes_[i]; }

private:
    QLineEdit* boxes_[7] = {};
};

// Image pool ("画像ﾌﾟｰﾙ"): every button is one document entry.
class CPoolDlg : public QDialog {
    Q_OBJECT
public:
    CPoolDlg(CLumadriftDoc& doc, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    QLineEdit* nameBox() const { return name_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* deleteButton() const { return del_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* targetButton() const { return target_; }
    QPushButton* deleteAllButton() const { return delAll_; }
    void done(int r) override;

private:
    void Refill();
    int SelectedRow() const;
    void ToTarget();
    void UpdateButtons();
    CLumadriftDoc& doc_;
    QTreeWidget* list_ = nullptr;
    QLineEdit* name_ = nullptr;
    QPushButton *add_ = nullptr, *del_ = nullptr, *save_ = nullptr, *target_ = nullptr,
                *delAll_ = nullptr;
};

// Inter-image operation: chooses a target and a reference pool entry.
class CInterImageDlg : public QDialog {
    Q_OBJECT
public:
    CInterImageDlg(CLumadriftDoc& doc, BitOp op, QWidget* parent = nullptr);
    int targetId() const { return targetId_; }
    int referenceId() const { return referenceId_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* referenceButton() const { return refButton_; }
    QPushButton* targetButton() const { return targetButton_; }
    QLineEdit* referenceName() const { return refName_; }
    QLineEdit* targetName() const { return targetName_; }
    void accept() override;

private:
    void Choose(bool target);
    CLumadriftDoc& doc_;
    QTreeWidget* list_ = nullptr;
    QPushButton *refButton_ = nullptr, *targetButton_ = nullptr;
    QLineEdit *refName_ = nullptr, *targetName_ = nullptr;
    int targetId_ = -1;
    int referenceId_ = -1;
};

// FFT band-pass ("FFT") with live preview: every change emits
// paramsChanged. A mask path is committed (the box left, Enter, OK, a
// browsed file, the user shape chosen) through `commitMask`, which reads the
// file and stores the path, or clears the stored path and returns false;
// `saveMask` writes the current mask.
class CFftDlg : public QDialog {
    Q_OBJECT
public:
    CFftDlg(const QString& filterDir, std::function<bool(const std::string&)> commitMask,
            std::function<int(const std::string&)> saveMask, QWidget* parent = nullptr);
    ~CFftDlg() override;
    // Checks the stored shape's button and runs the first preview.
    void setParams(const FftParams& p);
    double minValue() const { return values_[0]; }
    double maxValue() const { return values_[1]; }
    int shape() const { return shape_; }
    std::string path() const { return path_->text().left(259).toStdString(); }
    FftParams params() const { return {values_[0], values_[1], shape_, path()}; }
    QScrollBar* scrollBar(int i) const { return bars_[i]; }
    QLineEdit* edit(int i) const { return edits_[i]; }
    QRadioButton* shapeButton(int i) const { return shapes_[i]; }
    QLineEdit* pathBox() const { return path_; }
    void accept() override;

Q_SIGNALS:
    void paramsChanged(double min, double max, int shape);

private:
    void ChooseShape(int shape);
    // The typed MIN (0) or MAX (1), when the box is left or Enter pressed.
    void CommitBox(int i);
    // The typed path: read and previewed, or the message and an empty box.
    bool CheckPath();
    void Preview();
    QString filterDir_;
    std::function<bool(const std::string&)> commitMask_;
    std::string checkedPath_;  // the path whose mask the preview shows
    bool checking_ = false;
    std::function<int(const std::string&)> saveMask_;
    QScrollBar* bars_[2] = {};
    QLineEdit* edits_[2] = {};
    QRadioButton* shapes_[3] = {};
    QLineEdit* path_ = nullptr;
    QPushButton* browse_ = nullptr;
    double values_[2] = {0.0, 1.0};
    int shape_ = 0;
};

// "%d × %d"
QString PoolSizeText(int width, int height);

}  // namespace lumadrift
