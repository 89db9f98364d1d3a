// The two result lists: labeling results (modal) and the density profile
// table (modeless, lives while the profile is shown).
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTreeWidget>
#include <vector>

#include "commands/lumadrift_doc.h"

namespace lumadrift {

class CLabelingResultDlg : public QDialog {
    Q_OBJECT
public:
    CLabelingResultDlg(CLumadriftDoc& doc, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    QPushButton* saveButton() const { return save_; }

Q_SIGNALS:
    // The labels (row index + 1) of the selected rows, in list order.
    void selectionChanged(const std::vector<int>& labels);

private:
    CLumadriftDoc& doc_;
    QTreeWidget* list_ = nullptr;
    QPushButton* save_ = nullptr;
};

class CProfileResultWnd : public QDialog {
    Q_OBJECT
public:
    CProfileResultWnd(CLumadriftDoc& doc, QWidget* parent = nullptr);
    // Rows as the document sampled them.
    void Fill(const std::vector<ProfileRow>& rows);
    // Top-right corner on the main window's top-right corner.
    void PlaceAt(QWidget* mainWindow);
    QTreeWidget* list() const { return list_; }
    QPushButton* saveButton() const { return save_; }
    void reject() override;

Q_SIGNALS:
    void selectionChanged(const std::vector<int>& indices);
    // "終了", Escape and the close box: the main window leaves the profile.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CLumadriftDoc& doc_;
    QTreeWidget* list_ = nullptr;
    QPushButton* save_ = nullptr;
};

// The rows of a list as the view's selection: row indices + offset.
std::vector<int> SelectedRows(const QTreeWidget* list, int offset);

}  // namespace lumadrift
