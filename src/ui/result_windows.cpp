#include "ui/result_windows.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

namespace lumadrift {

std::vector<int> SelectedRows(const QTreeWidget* list, int offset)
{
    std::vector<int> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected())
            rows.push_back(i + offset);
    return rows;
}

namespace {

// A click anywhere in a list hands its selection to the view; keyboard
// moves do not. A plain click on the blank part below the rows selects
// nothing, as in any report list, so the view's marks go.
class ClickFilter : public QObject {
public:
    ClickFilter(QTreeWidget* list, std::function<void()> f)
        : QObject(list), list_(list), f_(std::move(f))
    {
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonRelease)
            return false;
        auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() != Qt::LeftButton)
            return false;
        if (e->type() == QEvent::MouseButtonPress) {
            if (!list_->itemAt(m->position().toPoint()) &&
                !(m->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
                list_->clearSelection();
        } else {
            f_();
        }
        return false;
    }

private:
    QTreeWidget* list_;
    std::function<void()> f_;
};

void OnClick(QTreeWidget* list, std::function<void()> f)
{
    list->viewport()->installEventFilter(new ClickFilter(list, std::move(f)));
}

QTreeWidget* ReportList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSortingEnabled(false);
    list->setUniformRowHeights(true);
    return list;
}

QString SaveFileName(QWidget* parent, const std::string& dir, const QString& filter,
                     const QString& suffix)
{
    QFileDialog dlg(parent, QString(), QString::fromStdString(dir), filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(suffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

}  // namespace

CLabelingResultDlg::CLabelingResultDlg(CLumadriftDoc& doc, QWidget* parent)
    : QDialog(parent), doc_(doc)
{
    setWindowTitle(QStringLiteral("ﾗﾍﾞﾘﾝｸﾞ結果"));
    auto* layout = new QVBoxLayout(this);
    list_ = ReportList(this);
    QStringList titles;
    for (const auto& c : kLabelingColumns)
        titles << QString::fromUtf8(c.title);
    list_->setHeaderLabels(titles);
    int total = 0;
    for (int i = 0; i < static_cast<int>(kLabelingColumns.size()); ++i) {
        list_->setColumnWidth(i, kLabelingColumns[i].width);
        total += kLabelingColumns[i].width;
    }
    for (const LabelingRow& row : doc_.LabelingRows()) {
        QStringList cells;
        for (const auto& c : row.cells)
            cells << QString::fromStdString(c);
        auto* item = new QTreeWidgetItem(cells);
        for (int i = 1; i < 5; ++i)
            item->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
        list_->addTopLevelItem(item);
    }
    list_->setMinimumWidth(total + 24);
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    save_ = new QPushButton(QStringLiteral("保存"), this);
    auto* end = new QPushButton(QStringLiteral("終了"), this);
    save_->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(end);
    layout->addLayout(buttons);
    connect(end, &QPushButton::clicked, this, &QDialog::accept);
    connect(save_, &QPushButton::clicked, this, [this] {
        const QString path = SaveFileName(this, doc_.dirs().dataDir,
                                          QStringLiteral("Labeling Result Files (*.lbl)"),
                                          QStringLiteral("lbl"));
        if (!path.isEmpty())
            doc_.SaveLabelingResult(path.toStdString());
    });
    OnClick(list_, [this] { Q_EMIT selectionChanged(SelectedRows(list_, 1)); });
    adjustSize();
}

CProfileResultWnd::CProfileResultWnd(CLumadriftDoc& doc, QWidget* parent)
    : QDialog(parent), doc_(doc)
{
    setWindowTitle(QStringLiteral("濃度ﾌﾟﾛﾌｧｲﾙ結果"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    list_ = ReportList(this);
    list_->setHeaderLabels(
        {QStringLiteral("No."), QStringLiteral("座標"), QStringLiteral("濃度値")});
    list_->setColumnWidth(0, 40);
    list_->setColumnWidth(1, 65);
    list_->setColumnWidth(2, 50);
    list_->headerItem()->setTextAlignment(1, Qt::AlignRight);
    list_->headerItem()->setTextAlignment(2, Qt::AlignRight);
    list_->header()->setSectionsClickable(false);
    list_->setMinimumWidth(40 + 65 + 50 + 24);
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    save_ = new QPushButton(QStringLiteral("保存"), this);
    auto* end = new QPushButton(QStringLiteral("終了"), this);
    save_->setAutoDefault(false);
    end->setAutoDefault(false);
    buttons->addWidget(save_);
    buttons->addWidget(end);
    layout->addLayout(buttons);
    connect(end, &QPushButton::clicked, this, &CProfileResultWnd::closeRequested);
    connect(save_, &QPushButton::clicked, this, [this] {
        const QString path = SaveFileName(this, doc_.dirs().dataDir,
                                          QStringLiteral("Profile Result Files (*.pfl)"),
                                          QStringLiteral("pfl"));
        if (!path.isEmpty())
            doc_.WriteProfileFile(path.toStdString());
    });
    OnClick(list_, [this] { Q_EMIT selectionChanged(SelectedRows(list_, 0)); });
    resize(sizeHint().width(), 360);
}

void CProfileResultWnd::Fill(const std::vector<ProfileRow>& rows)
{
    list_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(
            {QString::number(static_cast<int>(i) + 1),
             QStringLiteral("(%1, %2)").arg(rows[i].x).arg(rows[i].y),
             QString::number(rows[i].value)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    list_->addTopLevelItems(items);
}

void CProfileResultWnd::PlaceAt(QWidget* mainWindow)
{
    if (!mainWindow)
        return;
    const QRect g = mainWindow->frameGeometry();
    move(g.right() - frameGeometry().width() + 1, g.top());
}

void CProfileResultWnd::reject()
{
    Q_EMIT closeRequested();
}

void CProfileResultWnd::closeEvent(QCloseEvent* event)
{
    event->ignore();
    Q_EMIT closeRequested();
}

}  // namespace lumadrift
