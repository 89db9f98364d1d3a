// The panel docked at the right of the main window: the read-out of the
// pixel under the pointer and the processing-range boxes.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace lumadrift {

// A range box: digits only; Enter is swallowed (nothing is inserted) and,
// like leaving the box, asks for the range to be applied.
class CRangeEdit : public QLineEdit {
    Q_OBJECT
public:
    CRangeEdit(int id, QWidget* parent = nullptr);
    int id() const { return id_; }

Q_SIGNALS:
    void applyRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int id_;
};

class CSidePanel : public QWidget {
    Q_OBJECT
public:
    explicit CSidePanel(QWidget* parent = nullptr);

    // The cursor group: each field as "%d".
    void SetCursorValues(int x, int y, int brightness, int red, int green, int blue);
    // The range group from an image range (right and bottom inclusive).
    void SetRange(int left, int top, int right, int bottom);

    CRangeEdit* rangeBox(int i) const { return range_[i]; }  // 0 X, 1 Y, 2 W, 3 H
    QLabel* valueField(int i) const { return values_[i]; }   // X, Y, Red, Green, Blue, 輝度
    QPushButton* showButton() const { return show_; }
    QPushButton* takeButton() const { return take_; }
    void SetRangeBoxesEnabled(bool on);

Q_SIGNALS:
    void rangeEdited();
    void showClicked();
    void takeClicked();

private:
    QLabel* values_[6] = {};
    CRangeEdit* range_[4] = {};
    QPushButton* show_ = nullptr;
    QPushButton* take_ = nullptr;
};

}  // namespace lumadrift
