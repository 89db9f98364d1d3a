#include "ui/history_panel.h"

#include <QAction>
#include <QDockWidget>
#include <QVBoxLayout>

#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "core/history.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"

namespace lumadrift {

namespace {

// The marks in front of each row: the current step, and the others.
const QString kCurrentMark = QStringLiteral("▶ ");
const QString kOtherMark = QStringLiteral("　 ");

}  // namespace

QString HistoryStepText(int code, const std::string& text)
{
    const char* name = OperationName(code);
    QString s = name ? QString::fromUtf8(name) : QString();
    if (HasParameterLine(code) && !text.empty())
        s += QLatin1Char(' ') + QString::fromStdString(text);
    return s;
}

CHistoryPanel::CHistoryPanel(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("historyList"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setTextElideMode(Qt::ElideRight);
    layout->addWidget(list_);
    // The rows are rewritten in place while a chosen step is being reached
    // (each undo refreshes the panel), so no row goes away under the click.
    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* it) { Q_EMIT stepChosen(list_->row(it)); });
    connect(list_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* it) { Q_EMIT stepChosen(list_->row(it)); });
}

QSize CHistoryPanel::sizeHint() const
{
    const int row = list_->fontMetrics().height() + 4;
    const QMargins m = layout()->contentsMargins();
    return {QWidget::sizeHint().width(), 5 * row + 2 * list_->frameWidth() + m.top() + m.bottom()};
}

void CHistoryPanel::Refresh(const History& history)
{
    const auto& entries = history.entries();
    const int n = static_cast<int>(entries.size());
    current_ = history.position() - 1;
    while (list_->count() > n)
        delete list_->takeItem(list_->count() - 1);
    while (list_->count() < n)
        list_->addItem(new QListWidgetItem(list_));
    const QColor redo = palette().color(QPalette::Disabled, QPalette::Text);
    const QColor normal = palette().color(QPalette::Active, QPalette::Text);
    for (int i = 0; i < n; ++i) {
        const History::Entry& e = entries[static_cast<size_t>(i)];
        QListWidgetItem* it = list_->item(i);
        const QString text = HistoryStepText(e.code, e.text);
        it->setText((i == current_ ? kCurrentMark : kOtherMark) + text);
        it->setToolTip(text);
        QFont f = list_->font();
        f.setBold(i == current_);
        it->setFont(f);
        // Steps after the current one are the redo branch.
        it->setForeground(i > current_ ? redo : normal);
    }
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(current_);
    }
}

CHistoryPanel* InstallHistoryPanel(CMainFrame& frame, CLumadriftDoc& doc)
{
    auto* dock = new QDockWidget(QStringLiteral("履歴"), &frame);
    dock->setObjectName(QStringLiteral("historyPanel"));
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea |
                          Qt::BottomDockWidgetArea);
    // Not closable: no menu item would bring it back.
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto* panel = new CHistoryPanel(dock);
    dock->setWidget(panel);
    frame.addDockWidget(Qt::RightDockWidgetArea, dock);
    panel->Refresh(doc.history());

    QObject::connect(frame.view(), &CLumadriftView::historyChanged, panel,
                     [panel, &doc] { panel->Refresh(doc.history()); });
    QObject::connect(panel, &CHistoryPanel::stepChosen, &frame, [&frame, &doc, panel](int row) {
        frame.UpdateActions();
        for (;;) {
            const int current = doc.history().position() - 1;
            if (row == current)
                break;
            const int id = row < current ? kCmdUndo : kCmdRedo;
            // The command's own rule decides (none while a profile is shown).
            const QAction* a = frame.action(id);
            if (!a || !a->isEnabled())
                break;
            frame.OnCommand(id);
            if (doc.history().position() - 1 == current)
                break;
        }
        // A step that could not be reached must not stay selected.
        panel->Refresh(doc.history());
    });
    return panel;
}

}  // namespace lumadrift
