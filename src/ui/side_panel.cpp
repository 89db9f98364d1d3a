#include "ui/side_panel.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace lumadrift {

CRangeEdit::CRangeEdit(int id, QWidget* parent) : QLineEdit(parent), id_(id)
{
    setAlignment(Qt::AlignRight);
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
}

void CRangeEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        Q_EMIT applyRequested();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CRangeEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    Q_EMIT applyRequested();
}

CSidePanel::CSidePanel(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);

    auto* cursor = new QGroupBox(QStringLiteral("ｶｰｿﾙ"), this);
    auto* cursorForm = new QFormLayout(cursor);
    const char* names[6] = {"Ｘ", "Ｙ", "Red", "Green", "Blue", "輝度"};
    for (int i = 0; i < 6; ++i) {
        values_[i] = new QLabel(cursor);
        values_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        values_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        values_[i]->setMinimumWidth(48);
        cursorForm->addRow(QString::fromUtf8(names[i]), values_[i]);
    }
    layout->addWidget(cursor);

    auto* range = new QGroupBox(QStringLiteral("画像処理範囲"), this);
    auto* rangeForm = new QFormLayout(range);
    const char* boxes[4] = {"X", "Y", "W", "H"};
    for (int i = 0; i < 4; ++i) {
        range_[i] = new CRangeEdit(1001 + i, range);
        range_[i]->setMaximumWidth(64);
        rangeForm->addRow(QString::fromUtf8(boxes[i]), range_[i]);
        connect(range_[i], &CRangeEdit::applyRequested, this, &CSidePanel::rangeEdited);
    }
    show_ = new QPushButton(QStringLiteral("表   示"), range);
    show_->setCheckable(true);
    take_ = new QPushButton(QStringLiteral("取   込"), range);
    rangeForm->addRow(show_);
    rangeForm->addRow(take_);
    layout->addWidget(range);
    layout->addStretch(1);

    // The check follows the command's rule, not the click.
    connect(show_, &QPushButton::clicked, this, [this] {
        show_->setChecked(!show_->isChecked());
        Q_EMIT showClicked();
    });
    connect(take_, &QPushButton::clicked, this, &CSidePanel::takeClicked);
}

void CSidePanel::SetCursorValues(int x, int y, int brightness, int red, int green, int blue)
{
    const int v[6] = {x, y, red, green, blue, brightness};
    for (int i = 0; i < 6; ++i)
        values_[i]->setText(QString::number(v[i]));
}

void CSidePanel::SetRange(int left, int top, int right, int bottom)
{
    const int v[4] = {left, top, right - left + 1, bottom - top + 1};
    for (int i = 0; i < 4; ++i)
        range_[i]->setText(QString::number(v[i]));
}

void CSidePanel::SetRangeBoxesEnabled(bool on)
{
    for (auto* b : range_)
        b->setEnabled(on);
}

}  // namespace lumadrift
