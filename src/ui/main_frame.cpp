#include "ui/main_frame.h"

#include <new>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

#include "commands/replay.h"
#include "core/picture_file.h"
#include "core/work_progress.h"
#include "ui/busy_indicator.h"
#include "ui/desktop_habits.h"
#include "ui/history_panel.h"
#include "ui/lumadrift_view.h"
#include "ui/side_panel.h"

namespace lumadrift {

namespace {

const QString kTitle = QStringLiteral("Lumadrift");
const char* const kOutOfMemoryText = "メモリが足りないため、この処理はできません";
const QString kIdleText = QStringLiteral("ﾚﾃﾞｨ");
constexpr int kMaxRecentFiles = 4;

// Commands whose menu item carries a check mark.
bool IsCheckable(int id)
{
    return id == kCmdRange || id == kCmdProfile || id == kCmdPreview || id == kCmdToolBar ||
           id == kCmdStatusBar;
}

}  // namespace

CMainFrame::CMainFrame(CLumadriftDoc& doc, FramePlacement& placement, QWidget* parent)
    : QMainWindow(parent), doc_(doc), placement_(placement)
{
    // The placement is the frame's normal rectangle; a maximized close is
    // remembered but the window always starts in its normal state. Until
    // the window system tells the frame's size the client area takes the
    // whole rectangle (ApplyPlacementToFrame corrects it).
    move(placement_.x, placement_.y);
    resize(placement_.width, placement_.height);
    view_ = new CLumadriftView(doc_, this);
    setCentralWidget(view_);
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildSidePanel();
    InstallHistoryPanel(*this, doc_);
    InstallDesktopHabits(*this, doc_);

    connect(view_, &CLumadriftView::cursorRead, this,
            [this](int x, int y, int b, int r, int g, int bl) {
                const int v[6] = {x, y, b, r, g, bl};
                UpdateSidePanel(v, nullptr);
            });
    connect(view_, &CLumadriftView::rangeShown, this, [this](int l, int t, int r, int b) {
        const ProcessingRange range{l, t, r, b};
        UpdateSidePanel(nullptr, &range);
    });
    connect(view_, &CLumadriftView::zoomChanged, this, &CMainFrame::SyncZoomBox);
    connect(view_, &CLumadriftView::commandRequested, this, &CMainFrame::OnCommand);
    connect(view_, &CLumadriftView::titleChanged, this, &CMainFrame::UpdateTitle);

    LoadRecentFiles();
    UpdateTitle();
    UpdateActions();
    if (placement_.layoutState != 0)
        QTimer::singleShot(0, this, [this] { OnCommand(kCmdEnvironmentFailure); });
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::MakeAction(int id)
{
    if (QAction* a = actions_.value(id, nullptr))
        return a;
    const CommandInfo* info = FindCommand(id);
    QString text = info && info->menuText ? QString::fromUtf8(info->menuText) : QString();
    auto* a = new QAction(this);
    const int tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0) {
        a->setShortcut(QKeySequence(text.mid(tab + 1)));
        text = text.left(tab);
    }
    a->setText(text);
    a->setStatusTip(QString::fromStdString(PromptStatusText(id)));
    a->setToolTip(QString::fromStdString(PromptToolTip(id)));
    a->setCheckable(IsCheckable(id));
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    actions_.insert(id, a);
    return a;
}

void CMainFrame::BuildMenu(QMenu* menu, const std::vector<MenuNode>& nodes)
{
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateActions);
    for (const MenuNode& n : nodes) {
        switch (n.kind) {
        case MenuNode::kSeparator: menu->addSeparator(); break;
        case MenuNode::kSubmenu:
            BuildMenu(menu->addMenu(QString::fromUtf8(n.text)), n.children);
            break;
        case MenuNode::kCommand:
            if (n.id == kCmdRecentFile) {
                fileMenu_ = menu;
                recentPlaceholder_ = MakeAction(n.id);
                if (recentPlaceholder_->text().isEmpty())
                    recentPlaceholder_->setText(QStringLiteral("最新のﾌｧｲﾙ"));
                menu->addAction(recentPlaceholder_);
            } else {
                menu->addAction(MakeAction(n.id));
            }
            break;
        }
    }
}

void CMainFrame::BuildMenus()
{
    for (const MenuNode& top : MenuLayout())
        BuildMenu(menuBar()->addMenu(QString::fromUtf8(top.text)), top.children);
    // The other standard accelerators reach no handler.
    for (const Accelerator& acc : Accelerators())
        if (QAction* a = actions_.value(acc.id, nullptr))
            a->setShortcut(QKeySequence(QString::fromUtf8(acc.keys)));
}

void CMainFrame::BuildToolBar()
{
    toolBar_ = addToolBar(QString());
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(16, 16));
    QStyle* st = style();
    const QMap<int, QStyle::StandardPixmap> icons{
        {kCmdOpen, QStyle::SP_DialogOpenButton},
        {kCmdSave, QStyle::SP_DialogSaveButton},
        {kCmdUndo, QStyle::SP_ArrowBack},
        {kCmdRedo, QStyle::SP_ArrowForward},
        {kCmdAbout, QStyle::SP_MessageBoxInformation}};
    for (int id : ToolbarLayout()) {
        if (id == 0) {
            toolBar_->addSeparator();
        } else if (id == kCtlZoomBox) {
            zoomBox_ = new QComboBox(toolBar_);
            zoomBox_->setObjectName(QStringLiteral("zoomBox1020"));
            zoomBox_->setMinimumWidth(80);
            zoomBox_->setToolTip(QString());
            toolBar_->addWidget(zoomBox_);
        } else {
            QAction* a = MakeAction(id);
            if (icons.contains(id))
                a->setIcon(st->standardIcon(icons.value(id)));
            toolBar_->addAction(a);
        }
    }
    if (!zoomBox_) {
        zoomBox_ = new QComboBox(toolBar_);
        toolBar_->addWidget(zoomBox_);
    }
    ApplyZoomModel();
    connect(zoomBox_, qOverload<int>(&QComboBox::activated), this,
            &CMainFrame::OnZoomBoxSelected);
    MakeAction(kCmdToolBar);
    MakeAction(kCmdStatusBar);
}

void CMainFrame::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    const char* names[4] = {"ｶﾅ", "CAP", "NUM", "SCRL"};
    for (int i = 0; i < 4; ++i) {
        locks_[i] = new QLabel(QString::fromUtf8(names[i]), bar);
        locks_[i]->setEnabled(false);
        bar->addPermanentWidget(locks_[i]);
    }
    // Only X11 tells the lock state; it is asked as often as a person can
    // press a lock key, and the indicators follow.
    if (ReadKeyLocks().known) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] { ShowKeyLocks(ReadKeyLocks()); });
        poll->start(200);
        ShowKeyLocks(ReadKeyLocks());
    }
    busy_ = std::make_unique<CBusyIndicator>(bar);
    bar->showMessage(kIdleText);
    // A prompt leaves the pane empty when the pointer goes; show the idle
    // text again.
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& m) {
        if (m.isEmpty())
            bar->showMessage(kIdleText);
    });
}

void CMainFrame::BuildSidePanel()
{
    dock_ = new QDockWidget(this);
    dock_->setObjectName(QStringLiteral("sidePanel105"));
    dock_->setAllowedAreas(Qt::RightDockWidgetArea);
    dock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dock_->setTitleBarWidget(new QWidget(dock_));
    // A small window scrolls the panel rather than growing for it.
    auto* scroll = new QScrollArea(dock_);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panel_ = new CSidePanel(scroll);
    scroll->setWidget(panel_);
    scroll->setMinimumWidth(panel_->sizeHint().width() + 4);
    dock_->setWidget(scroll);
    addDockWidget(Qt::RightDockWidgetArea, dock_);
    // A dialog bar, not a dock the operator resizes: its 72 dialog units of
    // width (a dialog unit is a quarter of the average character), or what
    // its controls need when that is more.
    const int dialogUnits = 72 * QFontMetrics(panel_->font()).averageCharWidth() / 4;
    dock_->setFixedWidth(std::max(dialogUnits, scroll->minimumWidth()));
    connect(panel_, &CSidePanel::rangeEdited, this, [this] {
        view_->ApplyRangeBoxes(panel_->rangeBox(0)->text(), panel_->rangeBox(1)->text(),
                               panel_->rangeBox(2)->text(), panel_->rangeBox(3)->text());
    });
    connect(panel_, &CSidePanel::showClicked, this, [this] { OnCommand(kCmdRange); });
    connect(panel_, &CSidePanel::takeClicked, this, [this] { OnCommand(kCmdAcquire); });
}

void CMainFrame::UpdateTitle()
{
    setWindowTitle(QString::fromStdString(doc_.Title()) + QStringLiteral(" - ") + kTitle);
}

void CMainFrame::UpdateActions()
{
    CommandContext ctx = doc_.CommandValues();
    ctx.recentFiles = static_cast<int>(recent_.size());
    ctx.toolBarVisible = toolBar_ && !toolBar_->isHidden();
    ctx.statusBarVisible = !statusBar()->isHidden();
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
        const CommandUi ui = EvaluateCommand(it.key(), ctx);
        it.value()->setEnabled(ui.enabled);
        if (it.value()->isCheckable())
            it.value()->setChecked(ui.checked);
    }
    for (QAction* a : recentActions_)
        a->setEnabled(EvaluateCommand(kCmdRecentFile, ctx).enabled);
    zoomBox_->setEnabled(EvaluateCommand(kCtlZoomBox, ctx).enabled);
    panel_->SetRangeBoxesEnabled(EvaluateCommand(kCtlRangeX, ctx).enabled);
    const CommandUi range = EvaluateCommand(kCmdRange, ctx);
    panel_->showButton()->setEnabled(range.enabled);
    panel_->showButton()->setChecked(range.checked);
    panel_->takeButton()->setEnabled(EvaluateCommand(kCmdAcquire, ctx).enabled);
}

void CMainFrame::UpdateSidePanel(const int* c, const ProcessingRange* r)
{
    if (c)
        panel_->SetCursorValues(c[0], c[1], c[2], c[3], c[4], c[5]);
    if (r)
        panel_->SetRange(r->left, r->top, r->right, r->bottom);
}

void CMainFrame::ApplyZoomModel()
{
    updatingZoomBox_ = true;
    QStringList want;
    for (const auto& e : zoomModel_.entries)
        want << QString::fromStdString(e);
    QStringList have;
    for (int i = 0; i < zoomBox_->count(); ++i)
        have << zoomBox_->itemText(i);
    if (have != want) {
        zoomBox_->clear();
        zoomBox_->addItems(want);
    }
    zoomBox_->setCurrentIndex(zoomModel_.current);
    updatingZoomBox_ = false;
}

void CMainFrame::SyncZoomBox(int zoom)
{
    lumadrift::SyncZoomBox(zoomModel_, zoom);
    ApplyZoomModel();
}

void CMainFrame::OnZoomBoxSelected(int index)
{
    if (updatingZoomBox_)
        return;
    const int zoom = SelectZoomBoxEntry(zoomModel_, index, doc_.zoom());
    ApplyZoomModel();
    doc_.setZoom(zoom);  // the view rescales and calls SyncZoomBox back
    UpdateActions();
}

void CMainFrame::OnCommand(int id)
{
    // A long command shows the wait cursor and the progress bar (not while
    // its dialogs wait for the operator).
    WorkScope work;
    if (id >= kCmdRecentFile && id < kCmdRecentFile + kMaxRecentFiles) {
        const int i = id - kCmdRecentFile;
        if (i < recent_.size())
            OpenFile(recent_.at(i));
    } else {
        try {
            RunCommand(id);
        } catch (const std::bad_alloc&) {
            // The document has put the picture back as it was.
            QMessageBox::warning(this, kTitle, QString::fromUtf8(kOutOfMemoryText));
        }
    }
    UpdateTitle();
    UpdateActions();
}

void CMainFrame::RunCommand(int id)
{
    {
        switch (id) {
        case kCmdOpen: OnOpen(); break;
        case kCmdSave: OnSave(); break;
        case kCmdSaveAs: OnSaveAs(); break;
        case kCmdExit: close(); break;
        case kCmdAbout: OnAbout(); break;
        case kCmdToolBar: toolBar_->setVisible(toolBar_->isHidden()); break;
        case kCmdStatusBar: statusBar()->setVisible(statusBar()->isHidden()); break;
        case kCmdRecordMacro: OnRecordMacro(); break;
        case kCmdStopMacro: doc_.StopRecording(); break;
        case kCmdRunMacro: OnRunMacro(); break;
        case kCmdEnvironmentFailure: OnEnvironmentFailure(); break;
        default: view_->OnCommand(id); break;
        }
    }
}

bool CMainFrame::OpenFile(const QString& path)
{
    BmpError err;
    {
        WorkScope work;  // also when dropped or named on the command line
        err = doc_.OpenDocument(path.toStdString());
    }
    UpdateTitle();
    if (err != BmpError::kNone) {
        QMessageBox::warning(this, kTitle, QString::fromUtf8(BmpErrorMessage(err)));
        UpdateActions();
        return false;
    }
    // The opened picture replaces a running preview; its camera goes.
    view_->CloseCamera();
    AddRecentFile(QFileInfo(path).absoluteFilePath());
    view_->SetSelectedItems({});
    UpdateActions();
    return true;
}

void CMainFrame::OnOpen()
{
    QFileDialog dlg(this, QString(), QString::fromStdString(doc_.dirs().pictureDir),
                    QString::fromUtf8(kOpenPictureFilter));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix(QStringLiteral("bmp"));
    dlg.selectFile(QStringLiteral("*.bmp"));
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
        OpenFile(dlg.selectedFiles().first());
}

void CMainFrame::OnSave()
{
    if (doc_.SaveDocument() < 0 && doc_.pathName().empty())
        OnSaveAs();
}

void CMainFrame::OnSaveAs()
{
    QFileDialog dlg(this, QString(), QString::fromStdString(doc_.dirs().pictureDir));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    OfferSavePictureFormats(dlg);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    const QString path = dlg.selectedFiles().first();
    if (doc_.SaveAs(path.toStdString()) == 0)
        AddRecentFile(QFileInfo(path).absoluteFilePath());
}

void CMainFrame::OnRecordMacro()
{
    QFileDialog dlg(this, QString(), QString::fromStdString(doc_.dirs().filterDir),
                    QStringLiteral("Filter Files (*.flt)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("flt"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    doc_.StartRecording(dlg.selectedFiles().first().toStdString());
}

void CMainFrame::OnRunMacro()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QString(), QString::fromStdString(doc_.dirs().filterDir),
        QStringLiteral("Filter Files (*.flt)"));
    if (!path.isEmpty())
        RunMacroFile(path);
}

void CMainFrame::RunMacroFile(const QString& path)
{
    ReplayOptions options;
    options.logDir = doc_.dirs().logDir;
    options.baseDir = QFileInfo(path).absolutePath().toStdString();
    options.pumpMessages = [] { QCoreApplication::processEvents(); };
    ReplayMacroFile(doc_, path.toStdString(), options);
    view_->SyncProfileWindow();
    view_->viewport()->update();
}

void CMainFrame::OnAbout()
{
    QMessageBox::about(this, kTitle,
                       QStringLiteral("Lumadrift\n8 ﾋﾞｯﾄ ｸﾞﾚｲｽｹｰﾙ画像処理ﾜｰｸﾍﾞﾝﾁ"));
}

void CMainFrame::LoadRecentFiles()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("Recent File List"));
    recent_.clear();
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString f = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty())
            recent_ << f;
    }
    RefreshRecentMenu();
}

void CMainFrame::AddRecentFile(const QString& path)
{
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > kMaxRecentFiles)
        recent_.removeLast();
    QSettings settings;
    settings.beginGroup(QStringLiteral("Recent File List"));
    for (int i = 0; i < kMaxRecentFiles; ++i) {
        const QString key = QStringLiteral("File%1").arg(i + 1);
        if (i < recent_.size())
            settings.setValue(key, recent_.at(i));
        else
            settings.remove(key);
    }
    RefreshRecentMenu();
}

void CMainFrame::RefreshRecentMenu()
{
    if (!fileMenu_ || !recentPlaceholder_)
        return;
    for (QAction* a : recentActions_) {
        fileMenu_->removeAction(a);
        if (actions_.value(kCmdRecentFile) != a)
            a->deleteLater();
    }
    recentActions_.clear();
    recentPlaceholder_->setVisible(recent_.isEmpty());
    for (int i = 0; i < recent_.size(); ++i) {
        auto* a = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(recent_.at(i)), this);
        a->setStatusTip(QString::fromStdString(PromptStatusText(kCmdRecentFile)));
        const int id = kCmdRecentFile + i;
        connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        fileMenu_->insertAction(recentPlaceholder_, a);
        recentActions_ << a;
    }
}

QString CMainFrame::EnvironmentNotice()
{
    return QStringLiteral("実行環境が壊れている可能性があります。\r\n"
                          "再度ｲﾝｽﾄｰﾙをしてください。\r\n"
                          "\r\nﾌﾟﾛｸﾞﾗﾑは強制終了されます。");
}

void CMainFrame::OnEnvironmentFailure()
{
    QMessageBox::critical(this, kTitle, EnvironmentNotice());
    QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::ShowKeyLocks(const KeyLocks& k)
{
    const bool on[4] = {k.kana, k.caps, k.num, k.scroll};
    for (int i = 0; i < 4; ++i)
        locks_[i]->setEnabled(k.known && on[i]);
}

bool CMainFrame::event(QEvent* e)
{
    const bool done = QMainWindow::event(e);
    if (!placementApplied_ &&
        (e->type() == QEvent::Show || e->type() == QEvent::Move || e->type() == QEvent::Resize))
        ApplyPlacementToFrame();
    return done;
}

void CMainFrame::ApplyPlacementToFrame()
{
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (!isVisible() || frame == client)
        return;  // no frame known (yet, or at all): the client takes the rectangle
    placementApplied_ = true;
    if (windowState() != Qt::WindowNoState)
        return;
    resize(placement_.width - (frame.width() - client.width()),
           placement_.height - (frame.height() - client.height()));
    move(placement_.x, placement_.y);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The frame's normal rectangle, title bar and borders included.
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const QMargins borders(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    const bool maximized = isMaximized();
    const QRect normal =
        maximized || isMinimized() ? normalGeometry().marginsAdded(borders) : frame;
    placement_.x = normal.x();
    placement_.y = normal.y();
    placement_.width = normal.width();
    placement_.height = normal.height();
    placement_.maximized = maximized ? 1 : 0;
    QMainWindow::closeEvent(event);
}

}  // namespace lumadrift
