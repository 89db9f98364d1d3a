#include "ui/dialogs.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QMessageBox>
#include <QPainter>
#include <QVBoxLayout>
#include <cstdlib>

#include "commands/lumadrift_doc.h"
#include "core/c_number.h"
#include "ui/desktop_habits.h"

namespace lumadrift {

namespace {

// Leading-number conversions of at most `limit` characters, as the boxes
// are read: "12x" is 12, "abc" 0.
int ReadInt(const QLineEdit* e, int limit = 11)
{
    const std::string t = e->text().left(limit).toStdString();
    return static_cast<int>(std::strtol(t.c_str(), nullptr, 10));
}

double ReadDouble(const QLineEdit* e, int limit = 11)
{
    const std::string t = e->text().left(limit).toStdString();
    return StrtodC(t.c_str(), nullptr);
}

QDialogButtonBox* OkCancel(QDialog* dlg, bool cancel = true)
{
    auto* box = new QDialogButtonBox(dlg);
    box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    if (cancel)
        box->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    return box;
}

// Runs a slot when the focus moves from a box to another control. The
// window losing its activation (a message box coming up, another program)
// leaves the box as it is: the focus comes back to it.
class FocusOutFilter : public QObject {
public:
    FocusOutFilter(QObject* parent, std::function<void()> f) : QObject(parent), f_(std::move(f)) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::FocusOut || !f_)
            return false;
        const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason)
            f_();
        return false;
    }
    void Disable() { f_ = nullptr; }

private:
    std::function<void()> f_;
};

}  // namespace

// A dialog being torn down has lost its own members before its boxes go, and
// the focus leaving a box then must reach nothing.
void DisableFocusOutHandlers(QWidget* dialog)
{
    for (QObject* o : dialog->findChildren<QObject*>())
        if (auto* f = dynamic_cast<FocusOutFilter*>(o))
            f->Disable();
}

namespace {

void OnFocusOut(QLineEdit* e, std::function<void()> f)
{
    e->installEventFilter(new FocusOutFilter(e, std::move(f)));
}

QTreeWidget* PoolList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("ｻｲｽﾞ")});
    list->setColumnWidth(0, 150);
    list->setColumnWidth(1, 115);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

void FillPoolList(QTreeWidget* list, const ImagePool& pool)
{
    list->clear();
    for (int i = 0; i < pool.size(); ++i) {
        const PoolEntry* e = pool.Find(i);
        list->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(e->name), PoolSizeText(e->width(), e->height())}));
    }
}

int FirstSelectedRow(const QTreeWidget* list)
{
    const auto items = list->selectedItems();
    int row = -1;
    for (auto* it : items) {
        const int r = list->indexOfTopLevelItem(it);
        if (row < 0 || r < row)
            row = r;
    }
    return row;
}

const QString kSizeMessage = QStringLiteral("選択画像の大きさが処理対象範囲と異なります。");

}  // namespace

QString PoolSizeText(int width, int height)
{
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

// --- zoom ---------------------------------------------------------------------

CZoomDlg::CZoomDlg(int zoom, QWidget* parent) : QDialog(parent), zoom_(zoom)
{
    setWindowTitle(QStringLiteral("ｽﾞｰﾑ"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("倍率"), this);
    auto* g = new QGridLayout(group);
    int checked = 6;
    for (int i = 0; i < 6; ++i) {
        radios_[i] = new QRadioButton(QStringLiteral("%1%").arg(kZoomPresets[i]), group);
        g->addWidget(radios_[i], i, 0);
        if (kZoomPresets[i] == zoom)
            checked = i;
        connect(radios_[i], &QRadioButton::clicked, this, [this, i] {
            zoom_ = kZoomPresets[i];
            edit_->setText(QString::number(zoom_));
        });
    }
    radios_[6] = new QRadioButton(QStringLiteral("指定"), group);
    edit_ = new QLineEdit(QString::number(zoom), group);
    g->addWidget(radios_[6], 6, 0);
    g->addWidget(edit_, 6, 1);
    g->addWidget(new QLabel(QStringLiteral("%"), group), 6, 2);
    connect(radios_[6], &QRadioButton::clicked, this, [this] {
        edit_->setFocus();
        edit_->selectAll();
    });
    radios_[checked]->setChecked(true);
    layout->addWidget(group);
    layout->addWidget(OkCancel(this));
}

void CZoomDlg::accept()
{
    if (radios_[6]->isChecked())
        zoom_ = std::clamp(ReadInt(edit_), kMinZoom, kMaxZoom);
    QDialog::accept();
}

// --- colours ------------------------------------------------------------------

CColorButton::CColorButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setMinimumSize(60, 40);
}

void CColorButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    const QRect inner = r.adjusted(3, 3, -3, -3);
    p.fillRect(inner, QColor(color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff));
    p.setPen(Qt::black);
    p.drawRect(inner.adjusted(0, 0, -1, -1));
    if (highlighted) {
        p.setPen(QColor(96, 96, 96));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

void CColorButton::focusInEvent(QFocusEvent* event)
{
    QPushButton::focusInEvent(event);
    Q_EMIT focused();
}

CColorSettingsDlg::CColorSettingsDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("色設定"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    const char* names[3] = {"ﾏｳｽ", "ｸﾞﾗﾌ", "結果"};
    for (int i = 0; i < 3; ++i) {
        auto* col = new QVBoxLayout;
        col->addWidget(new QLabel(QString::fromUtf8(names[i]), this), 0, Qt::AlignHCenter);
        buttons_[i] = new CColorButton(QString(), this);
        buttons_[i]->setAccessibleName(QString::fromUtf8(names[i]));
        col->addWidget(buttons_[i]);
        row->addLayout(col);
        connect(buttons_[i], &QPushButton::clicked, this, [this, i] { Choose(i); });
        connect(buttons_[i], &CColorButton::focused, this, [this, i] { Highlight(i); });
    }
    layout->addLayout(row);
    QDialogButtonBox* box = OkCancel(this);
    layout->addWidget(box);
    // No colour is outlined at the start: the focus begins on OK.
    for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == QDialogButtonBox::AcceptRole)
            b->setFocus();
}

void CColorSettingsDlg::Highlight(int i)
{
    for (int k = 0; k < 3; ++k)
        buttons_[k]->highlighted = k == i;
    for (auto* b : buttons_)
        b->update();
}

void CColorSettingsDlg::setColors(uint32_t mouse, uint32_t graph, uint32_t result)
{
    buttons_[0]->color = mouse;
    buttons_[1]->color = graph;
    buttons_[2]->color = result;
    update();
}

void CColorSettingsDlg::Choose(int i)
{
    Highlight(i);
    const uint32_t c = buttons_[i]->color;
    const QColor chosen =
        QColorDialog::getColor(QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff), this);
    if (chosen.isValid())
        buttons_[i]->color = static_cast<uint32_t>(chosen.red()) |
                             (static_cast<uint32_t>(chosen.green()) << 8) |
                             (static_cast<uint32_t>(chosen.blue()) << 16);
    for (auto* b : buttons_)
        b->update();
}

// --- acquisition --------------------------------------------------------------

CAcquireDlg::CAcquireDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("画像の取得"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("取得ﾌﾚｰﾑ"), this);
    auto* g = new QGridLayout(group);
    const char* names[6] = {"Red", "Green", "Blue", "Brightness", "Hue", "Saturation"};
    for (int i = 0; i < 6; ++i) {
        radios_[i] = new QRadioButton(QString::fromUtf8(names[i]), group);
        radios_[i]->setObjectName(QStringLiteral("radio%1").arg(1046 + i));
        g->addWidget(radios_[i], i, 0);
        connect(radios_[i], &QRadioButton::clicked, this, [this, i] {
            channel_ = i;
            angle_->setEnabled(i == 4);
        });
    }
    auto* angleRow = new QHBoxLayout;
    angleRow->addWidget(new QLabel(QStringLiteral("基準"), group));
    angle_ = new QLineEdit(QString::asprintf("%.3lf", 0.0), group);
    angle_->setEnabled(false);
    angleRow->addWidget(angle_);
    angleRow->addWidget(new QLabel(QStringLiteral("度"), group));
    g->addLayout(angleRow, 4, 1);
    radios_[0]->setChecked(true);
    layout->addWidget(group);
    invert_ = new QCheckBox(QStringLiteral("反転"), this);
    layout->addWidget(invert_);
    layout->addWidget(OkCancel(this));
}

AcquireParams CAcquireDlg::params() const
{
    AcquireParams p;
    p.channel = channel_;
    p.invert = invert_->isChecked() ? 1 : 0;
    p.baseAngle = ReadDouble(angle_);
    return p;
}

// --- binarization -------------------------------------------------------------

CBinarizeDlg::CBinarizeDlg(const BinarizeParams& p, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("2値化"));
    auto* layout = new QVBoxLayout(this);
    histogram_ = new CThresholdPanel(this);
    layout->addWidget(histogram_);
    auto* group = new QGroupBox(QStringLiteral("2値化閾値"), this);
    auto* g = new QGridLayout(group);
    const char* names[2] = {"MIN", "MAX"};
    const int start[2] = {p.min, p.max};
    for (int i = 0; i < 2; ++i) {
        values_[i] = std::clamp(start[i], 0, 255);
        edits_[i] = new QLineEdit(QString::number(values_[i]), group);
        edits_[i]->setMaxLength(3);
        edits_[i]->setMaximumWidth(48);
        bars_[i] = new QScrollBar(Qt::Horizontal, group);
        bars_[i]->setRange(0, 255);
        bars_[i]->setSingleStep(1);
        bars_[i]->setPageStep(10);
        bars_[i]->setValue(values_[i]);
        bars_[i]->setMinimumWidth(256);
        g->addWidget(new QLabel(QString::fromUtf8(names[i]), group), 2 * i, 0);
        g->addWidget(edits_[i], 2 * i, 1);
        g->addWidget(new QLabel(QStringLiteral("0"), group), 2 * i, 2);
        g->addWidget(bars_[i], 2 * i, 3);
        g->addWidget(new QLabel(QStringLiteral("255"), group), 2 * i, 4);
        connect(bars_[i], &QScrollBar::valueChanged, this,
                [this, i](int v) { SetValue(i, v, true); });
        OnFocusOut(edits_[i], [this, i] { CommitBox(i); });
        // Enter reaches OK with the focus still in the box: the typed value
        // is taken (and previewed) first, or OK would keep the old one.
        connect(edits_[i], &QLineEdit::returnPressed, this, [this, i] { CommitBox(i); });
    }
    layout->addWidget(group);
    layout->addWidget(OkCancel(this, false));
    histogram_->setThresholds(values_[0], values_[1]);
    // Taken as if typed: boxes, bars, markers and the preview follow.
    connect(histogram_, &CThresholdPanel::thresholdChosen, this,
            [this](int i, int v) { SetValue(i, v, true); });
}

CBinarizeDlg::~CBinarizeDlg() { DisableFocusOutHandlers(this); }
CKernelDlg::~CKernelDlg() { DisableFocusOutHandlers(this); }
CFftDlg::~CFftDlg() { DisableFocusOutHandlers(this); }

void CBinarizeDlg::CommitBox(int i)
{
    const int v = ReadInt(edits_[i], 3);
    SetValue(i, v, v >= 255 || v <= 0);
}

void CBinarizeDlg::SetValue(int i, int v, bool rewriteBox)
{
    v = std::clamp(v, 0, 255);
    const bool changed = v != values_[i];
    values_[i] = v;
    if (rewriteBox)
        edits_[i]->setText(QString::number(v));
    if (bars_[i]->value() != v) {
        QSignalBlocker block(bars_[i]);
        bars_[i]->setValue(v);
    }
    histogram_->setThresholds(values_[0], values_[1]);
    if (changed)
        Q_EMIT paramsChanged(values_[0], values_[1]);
}

// --- density ------------------------------------------------------------------

CDensityDlg::CDensityDlg(bool gamma, double value, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("濃度変換"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(gamma ? QStringLiteral("γ補正") : QStringLiteral("ｺﾝﾄﾗｽﾄ"), this));
    edit_ = new QLineEdit(QString::asprintf("%0.1lf", value), this);
    row->addWidget(edit_);
    auto* unit = new QLabel(QStringLiteral("倍"), this);
    unit->setVisible(!gamma);
    row->addWidget(unit);
    layout->addLayout(row);
    histograms_ = new CDensityHistograms(gamma, this);
    layout->addWidget(histograms_);
    layout->addWidget(OkCancel(this));
    // What OK would make of the box's text, as it is typed.
    auto follow = [this] { histograms_->setValue(this->value()); };
    connect(edit_, &QLineEdit::textChanged, this, follow);
    follow();
}

double CDensityDlg::value() const
{
    return ReadDouble(edit_, 23);
}

// --- kernel -------------------------------------------------------------------

CKernelDlg::CKernelDlg(bool rank, QWidget* parent) : QDialog(parent), rank_(rank)
{
    auto* layout = new QVBoxLayout(this);
    auto* sizeGroup = new QGroupBox(QStringLiteral("ｶｰﾈﾙ ｻｲｽﾞ"), this);
    auto* sg = new QGridLayout(sizeGroup);
    const char* names[2] = {"Xｻｲｽﾞ", "Yｻｲｽﾞ"};
    for (int i = 0; i < 2; ++i) {
        sizes_[i] = new QLineEdit(sizeGroup);
        sg->addWidget(new QLabel(QString::fromUtf8(names[i]), sizeGroup), i, 0);
        sg->addWidget(sizes_[i], i, 1);
        OnFocusOut(sizes_[i], [this, i] { OddSize(i); });
    }
    layout->addWidget(sizeGroup);
    auto* rankBox = new QGroupBox(QStringLiteral("ﾗﾝｸ"), this);
    rankGroup_ = rankBox;
    auto* rg = new QGridLayout(rankBox);
    const char* choices[4] = {"最低値", "最高値", "中央値", "指定"};
    for (int i = 0; i < 4; ++i) {
        choices_[i] = new QRadioButton(QString::fromUtf8(choices[i]), rankBox);
        rg->addWidget(choices_[i], i, 0);
        connect(choices_[i], &QRadioButton::clicked, this, [this, i] { SetChoice(i); });
    }
    rankEdit_ = new QLineEdit(rankBox);
    rg->addWidget(rankEdit_, 3, 1);
    layout->addWidget(rankBox);
    layout->addWidget(OkCancel(this));
}

void CKernelDlg::setParams(const RankParams& p)
{
    params_ = p;
    sizes_[0]->setText(QString::number(p.x));
    sizes_[1]->setText(QString::number(p.y));
    rankGroup_->setVisible(rank_);
    if (rank_) {
        const int c = std::clamp(p.choice, 0, 3);
        choices_[c]->setChecked(true);
        if (c == 3)
            rankEdit_->setText(QString::number(p.rank));
        SetChoice(c);
    }
}

void CKernelDlg::SetChoice(int c)
{
    params_.choice = c;
    rankEdit_->setEnabled(c == 3);
}

void CKernelDlg::OddSize(int i)
{
    const int v = ReadInt(sizes_[i]);
    if (v % 2 == 0)
        sizes_[i]->setText(QString::number(v + 1));
}

void CKernelDlg::accept()
{
    params_.x = ReadInt(sizes_[0]);
    params_.y = ReadInt(sizes_[1]);
    if (rank_) {
        const int n = params_.x * params_.y;
        const int rank = RankPosition(params_.choice, params_.x, params_.y, ReadInt(rankEdit_));
        if (rank < 0 || rank >= n)
            return;  // stays open without a word
        params_.rank = rank;
    }
    QDialog::accept();
}

// --- convolution --------------------------------------------------------------

CConvolutionDlg::CConvolutionDlg(const QString& filterDir, QWidget* parent)
    : QDialog(parent), filterDir_(filterDir)
{
    setWindowTitle(QStringLiteral("2次微分"));
    auto* layout = new QVBoxLayout(this);
    auto* modes = new QHBoxLayout;
    const char* names[3] = {"3 × 3", "5 × 5", "m × n"};
    const int modeValues[3] = {3, 5, 0};
    for (int i = 0; i < 3; ++i) {
        modes_[i] = new QRadioButton(QString::fromUtf8(names[i]), this);
        modes->addWidget(modes_[i]);
        connect(modes_[i], &QRadioButton::clicked, this,
                [this, m = modeValues[i]] { SetMode(m); });
    }
    layout->addLayout(modes);
    auto* grid = new QGridLayout;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            cells_[r][c] = new QLineEdit(this);
            cells_[r][c]->setAlignment(Qt::AlignCenter);
            cells_[r][c]->setMaximumWidth(56);
            grid->addWidget(cells_[r][c], r, c);
        }
    layout->addLayout(grid);
    auto* pathRow = new QHBoxLayout;
    path_ = new QLineEdit(this);
    browse_ = new QPushButton(QStringLiteral("参照"), this);
    pathRow->addWidget(path_);
    pathRow->addWidget(browse_);
    layout->addLayout(pathRow);
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QString(), filterDir_,
                                                       QStringLiteral("Kernel Files (*.knl)"));
        if (!f.isEmpty())
            path_->setText(f);
    });
    layout->addWidget(OkCancel(this));
}

void CConvolutionDlg::setParams(const ConvolutionParams& p)
{
    const int mode = p.mode == 5 ? 5 : (p.mode == 0 ? 0 : 3);
    if (mode == 3)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const size_t k = static_cast<size_t>(r * 3 + c);
                cells_[r + 1][c + 1]->setText(
                    QString::asprintf("%0.0lf", k < p.values.size() ? p.values[k] : 0.0));
            }
    if (mode == 5)
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c) {
                const size_t k = static_cast<size_t>(r * 5 + c);
                cells_[r][c]->setText(
                    QString::asprintf("%0.0lf", k < p.values.size() ? p.values[k] : 0.0));
            }
    if (mode == 0)
        path_->setText(QString::fromStdString(p.kernelFile));
    modes_[mode == 3 ? 0 : mode == 5 ? 1 : 2]->setChecked(true);
    SetMode(mode);
}

void CConvolutionDlg::SetMode(int mode)
{
    mode_ = mode;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            const bool inner = r >= 1 && r <= 3 && c >= 1 && c <= 3;
            cells_[r][c]->setEnabled(mode == 5 || (mode == 3 && inner));
        }
    path_->setEnabled(mode == 0);
    browse_->setEnabled(mode == 0);
}

ConvolutionParams CConvolutionDlg::params() const
{
    ConvolutionParams p;
    p.mode = mode_;
    p.values.clear();
    if (mode_ == 3) {
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 3; ++c)
                p.values.push_back(ReadDouble(cells_[r][c]));
    } else if (mode_ == 5) {
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c)
                p.values.push_back(ReadDouble(cells_[r][c]));
    } else {
        p.kernelFile = path_->text().left(259).toStdString();
    }
    return p;
}

// --- affine -------------------------------------------------------------------

CAffineDlg::CAffineDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ｱﾌｨﾝ変換"));
    auto* layout = new QVBoxLayout(this);
    auto* g = new QGridLayout;
    for (auto& b : boxes_)
        b = new QLineEdit(this);
    g->addWidget(new QLabel(QStringLiteral("回転角度"), this), 0, 0);
    g->addWidget(boxes_[0], 0, 1);
    g->addWidget(new QLabel(QStringLiteral("度"), this), 0, 2);
    g->addWidget(new QLabel(QStringLiteral("X"), this), 1, 1, Qt::AlignHCenter);
    g->addWidget(new QLabel(QStringLiteral("Y"), this), 1, 2, Qt::AlignHCenter);
    const char* rows[3] = {"重心", "拡大率", "移動量"};
    for (int i = 0; i < 3; ++i) {
        g->addWidget(new QLabel(QString::fromUtf8(rows[i]), this), i + 2, 0);
        g->addWidget(boxes_[1 + 2 * i], i + 2, 1);
        g->addWidget(boxes_[2 + 2 * i], i + 2, 2);
    }
    layout->addLayout(g);
    layout->addWidget(OkCancel(this));
}

void CAffineDlg::setParams(const AffineParams& p)
{
    const double v[7] = {p.angle, p.centerX, p.centerY, p.zoomX, p.zoomY, p.shiftX, p.shiftY};
    for (int i = 0; i < 7; ++i)
        boxes_[i]->setText(QString::asprintf("%0.1lf", v[i]));
}

AffineParams CAffineDlg::params() const
{
    double v[7];
    for (int i = 0; i < 7; ++i)
        v[i] = ReadDouble(boxes_[i]);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
}

// --- pool ---------------------------------------------------------------------

CPoolDlg::CPoolDlg(CLumadriftDoc& doc, QWidget* parent) : QDialog(parent), doc_(doc)
{
    setWindowTitle(QStringLiteral("画像ﾌﾟｰﾙ"));
    auto* layout = new QVBoxLayout(this);
    list_ = PoolList(this);
    layout->addWidget(list_);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("画像の名称 ："), this));
    name_ = new QLineEdit(this);
    name_->setMaxLength(259);
    nameRow->addWidget(name_);
    layout->addLayout(nameRow);
    auto* buttons = new QHBoxLayout;
    add_ = new QPushButton(QStringLiteral("追加"), this);
    del_ = new QPushButton(QStringLiteral("削除"), this);
    save_ = new QPushButton(QStringLiteral("保存"), this);
    target_ = new QPushButton(QStringLiteral("⇒ 対象"), this);
    delAll_ = new QPushButton(QStringLiteral("全削除"), this);
    for (auto* b : {add_, del_, save_, target_, delAll_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    layout->addWidget(OkCancel(this, false));

    connect(add_, &QPushButton::clicked, this, [this] {
        if (doc_.PoolDialogAdd(name_->text().toStdString()) == 0)
            Refill();
    });
    connect(del_, &QPushButton::clicked, this, [this] {
        doc_.PoolDialogDelete(SelectedRow());
        Refill();
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        const int row = SelectedRow();
        QString path;
        if (row >= 0) {
            QFileDialog dlg(this, QString(), QString::fromStdString(doc_.dirs().pictureDir));
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            OfferSavePictureFormats(dlg);
            if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
                path = dlg.selectedFiles().first();
        }
        doc_.PoolDialogSave(row, path.toStdString());
    });
    connect(target_, &QPushButton::clicked, this, &CPoolDlg::ToTarget);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &CPoolDlg::ToTarget);
    connect(delAll_, &QPushButton::clicked, this, [this] {
        doc_.PoolDialogDeleteAll();
        Refill();
    });
    doc_.PoolDialogOpen();
    Refill();
}

void CPoolDlg::Refill()
{
    FillPoolList(list_, doc_.pool());
    UpdateButtons();
}

int CPoolDlg::SelectedRow() const
{
    return FirstSelectedRow(list_);
}

void CPoolDlg::ToTarget()
{
    const int row = SelectedRow();
    if (row >= 0 && !doc_.PoolEntryFits(row)) {
        QMessageBox::warning(this, QStringLiteral("Lumadrift"), kSizeMessage);
        return;
    }
    doc_.PoolDialogToTarget(row);
    UpdateButtons();
}

void CPoolDlg::UpdateButtons()
{
    const bool on = !doc_.PoolDialogButtonsDisabled();
    for (auto* b : {add_, del_, save_, delAll_})
        b->setEnabled(on);
}

void CPoolDlg::done(int r)
{
    doc_.PoolDialogClose(r == QDialog::Accepted);
    QDialog::done(r);
}

// --- inter-image --------------------------------------------------------------

CInterImageDlg::CInterImageDlg(CLumadriftDoc& doc, BitOp op, QWidget* parent)
    : QDialog(parent), doc_(doc)
{
    setWindowTitle(op == BitOp::kAnd  ? QStringLiteral("画像間AND演算")
                   : op == BitOp::kOr ? QStringLiteral("画像間OR演算")
                                      : QStringLiteral("画像間XOR演算"));
    auto* layout = new QVBoxLayout(this);
    list_ = PoolList(this);
    FillPoolList(list_, doc_.pool());
    layout->addWidget(list_);
    auto* g = new QGridLayout;
    refButton_ = new QPushButton(QStringLiteral("参照 ⇒"), this);
    targetButton_ = new QPushButton(QStringLiteral("対象 ⇒"), this);
    refName_ = new QLineEdit(this);
    targetName_ = new QLineEdit(this);
    refName_->setReadOnly(true);
    targetName_->setReadOnly(true);
    refButton_->setAutoDefault(false);
    targetButton_->setAutoDefault(false);
    g->addWidget(refButton_, 0, 0);
    g->addWidget(refName_, 0, 1);
    g->addWidget(targetButton_, 1, 0);
    g->addWidget(targetName_, 1, 1);
    layout->addLayout(g);
    layout->addWidget(OkCancel(this));
    connect(refButton_, &QPushButton::clicked, this, [this] { Choose(false); });
    connect(targetButton_, &QPushButton::clicked, this, [this] { Choose(true); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this] { Choose(!refName_->text().isEmpty()); });
}

void CInterImageDlg::Choose(bool target)
{
    const int row = FirstSelectedRow(list_);
    if (row < 0)
        return;
    if (!doc_.PoolEntryFits(row)) {
        QMessageBox::warning(this, QStringLiteral("Lumadrift"), kSizeMessage);
        return;
    }
    const QString name = QString::fromStdString(doc_.pool().Find(row)->name);
    if (target) {
        targetName_->setText(name);
        targetId_ = row;
    } else {
        refName_->setText(name);
        referenceId_ = row;
    }
}

void CInterImageDlg::accept()
{
    if (targetId_ < 0 || referenceId_ < 0)
        return;
    QDialog::accept();
}

// --- FFT ----------------------------------------------------------------------

CFftDlg::CFftDlg(const QString& filterDir, std::function<bool(const std::string&)> commitMask,
                 std::function<int(const std::string&)> saveMask, QWidget* parent)
    : QDialog(parent), filterDir_(filterDir), commitMask_(std::move(commitMask)),
      saveMask_(std::move(saveMask))
{
    setWindowTitle(QStringLiteral("FFT"));
    auto* layout = new QVBoxLayout(this);
    auto* shapeGroup = new QGroupBox(QStringLiteral("ﾏｽｸ形状"), this);
    auto* sg = new QHBoxLayout(shapeGroup);
    const char* names[3] = {"方形", "円形", "ﾕｰｻﾞ定義"};
    for (int i = 0; i < 3; ++i) {
        shapes_[i] = new QRadioButton(QString::fromUtf8(names[i]), shapeGroup);
        sg->addWidget(shapes_[i]);
        connect(shapes_[i], &QRadioButton::clicked, this, [this, i] { ChooseShape(i); });
    }
    auto* save = new QPushButton(QStringLiteral("保存"), shapeGroup);
    save->setAutoDefault(false);
    sg->addWidget(save);
    layout->addWidget(shapeGroup);

    auto* band = new QGroupBox(QStringLiteral("通過帯域"), this);
    auto* g = new QGridLayout(band);
    const char* labels[2] = {"MIN", "MAX"};
    for (int i = 0; i < 2; ++i) {
        edits_[i] = new QLineEdit(band);
        edits_[i]->setMaxLength(4);
        edits_[i]->setMaximumWidth(56);
        bars_[i] = new QScrollBar(Qt::Horizontal, band);
        bars_[i]->setRange(0, 100);
        bars_[i]->setSingleStep(1);
        bars_[i]->setPageStep(10);
        bars_[i]->setMinimumWidth(200);
        g->addWidget(new QLabel(QString::fromUtf8(labels[i]), band), i, 0);
        g->addWidget(edits_[i], i, 1);
        g->addWidget(new QLabel(QStringLiteral("0"), band), i, 2);
        g->addWidget(bars_[i], i, 3);
        g->addWidget(new QLabel(QStringLiteral("1.0"), band), i, 4);
        connect(bars_[i], &QScrollBar::valueChanged, this, [this, i](int pos) {
            values_[i] = std::clamp(pos, 0, 100) * 0.01;
            edits_[i]->setText(QString::asprintf("%0.2lf", values_[i]));
            Preview();
        });
        OnFocusOut(edits_[i], [this, i] { CommitBox(i); });
        connect(edits_[i], &QLineEdit::returnPressed, this, [this, i] { CommitBox(i); });
    }
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("ﾌｧｲﾙﾊﾟｽ"), band));
    path_ = new QLineEdit(band);
    path_->setMaxLength(259);
    browse_ = new QPushButton(QStringLiteral("参照"), band);
    browse_->setAutoDefault(false);
    pathRow->addWidget(path_);
    pathRow->addWidget(browse_);
    g->addLayout(pathRow, 2, 0, 1, 5);
    layout->addWidget(band);
    layout->addWidget(OkCancel(this, false));

    OnFocusOut(path_, [this] {
        if (shape_ == 2)
            CheckPath();
    });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QString(), filterDir_,
                                                       QStringLiteral("Mask Files (*.msk)"));
        if (f.isEmpty())
            return;
        path_->setText(f);
        CheckPath();
    });
    connect(save, &QPushButton::clicked, this, [this] {
        QFileDialog dlg(this, QString(), filterDir_, QStringLiteral("Mask Files (*.msk)"));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(QStringLiteral("msk"));
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() && saveMask_)
            saveMask_(dlg.selectedFiles().first().toStdString());
    });
}

void CFftDlg::setParams(const FftParams& p)
{
    const double v[2] = {p.low, p.high};
    for (int i = 0; i < 2; ++i) {
        values_[i] = v[i];
        edits_[i]->setText(QString::asprintf("%0.2lf", v[i]));
        QSignalBlocker block(bars_[i]);
        bars_[i]->setValue(static_cast<int>(v[i] * 100));
    }
    path_->setText(QString::fromStdString(p.maskFile));
    const int s = std::clamp(p.shape, 0, 2);
    shapes_[s]->setChecked(true);
    ChooseShape(s);
}

void CFftDlg::ChooseShape(int shape)
{
    shape_ = shape;
    const bool band = shape != 2;
    for (int i = 0; i < 2; ++i) {
        edits_[i]->setEnabled(band);
        bars_[i]->setEnabled(band);
    }
    path_->setEnabled(!band);
    browse_->setEnabled(!band);
    checkedPath_.clear();  // a square or circle replaces the mask
    if (band) {
        Preview();
    } else if (commitMask_ && commitMask_(path())) {
        checkedPath_ = path();
        Preview();
    } else {
        path_->clear();  // silently: the operator has not typed it
    }
}

void CFftDlg::CommitBox(int i)
{
    if (shape_ == 2)
        return;
    double v = ReadDouble(edits_[i], 4);
    v = v >= 1.0 ? 1.0 : (v <= 0.0 ? 0.0 : v);
    values_[i] = v;
    edits_[i]->setText(QString::asprintf("%1.2lf", v));
    {
        QSignalBlocker block(bars_[i]);
        bars_[i]->setValue(static_cast<int>(v * 100));
    }
    Preview();
}

bool CFftDlg::CheckPath()
{
    if (checking_)
        return false;
    checking_ = true;
    const std::string p = path();
    const bool ok = commitMask_ && commitMask_(p);
    if (ok) {
        checkedPath_ = p;
        Preview();
    } else {
        checkedPath_.clear();
        path_->clear();
        QMessageBox::warning(this, QStringLiteral("Lumadrift"),
                             QStringLiteral("指定されたﾏｽｸﾌｧｲﾙが無効です。"));
    }
    checking_ = false;
    return ok;
}

void CFftDlg::Preview()
{
    Q_EMIT paramsChanged(values_[0], values_[1], shape_);
}

void CFftDlg::accept()
{
    // Enter in the path box reaches OK without the box losing the focus:
    // a path not read yet is read here, and a bad one keeps the dialog open.
    if (shape_ == 2 && (path_->text().isEmpty() || (path() != checkedPath_ && !CheckPath())))
        return;
    QDialog::accept();
}

}  // namespace lumadrift
