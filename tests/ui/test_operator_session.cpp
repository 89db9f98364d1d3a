// The operator's session through the window: every dialog as a person
// drives it, the result windows, a macro replayed in the window, and one
// whole session recorded here and replayed by the replay tool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QTranslator>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>

#include "camera/synthetic_source.h"
#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "core/cp932.h"
#include "support/test_support.h"
#include "ui/gui_support.h"
#include "ui/dialogs.h"
#include "ui/lumadrift_app.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"
#include "ui/result_windows.h"
#include "ui/side_panel.h"

namespace lumadrift {
namespace {

using test::AnswerModal;
using test::StopAnswering;

// The next file dialog takes path.
void AnswerFile(const std::string& path)
{
    AnswerModal<QFileDialog>([path](QFileDialog* d) {
        d->selectFile(QString::fromStdString(path));
        static_cast<QDialog*>(d)->accept();
    });
}

// The next message box: its text goes to `text`, then OK.
QPointer<QTimer> AnswerMessage(QString& text)
{
    return AnswerModal<QMessageBox>([&text](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
}

// A file as the operator reads it: UTF-8 with LF.
std::string Text(const std::string& path)
{
    std::string t = Cp932ToUtf8(test::ReadText(path));
    std::string out;
    for (size_t i = 0; i < t.size(); ++i)
        if (!(t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n'))
            out += t[i];
    return out;
}

// A macro file written by hand (UTF-8 with LF in, CP932 with CR LF out).
void WriteMacro(const std::string& path, const std::string& utf8)
{
    std::string bytes;
    for (char c : Utf8ToCp932(utf8)) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    test::WriteText(path, bytes);
}

std::vector<uint8_t> PlaneCopy(const CLumadriftDoc& doc)
{
    const uint8_t* p = doc.planes().GetPlane(doc.currentPlane());
    return p ? std::vector<uint8_t>(p, p + static_cast<size_t>(doc.planes().width()) *
                                              doc.planes().height())
             : std::vector<uint8_t>();
}

class Session : public ::testing::Test {
protected:
    static constexpr int kW = 64;
    static constexpr int kH = 48;

    void SetUp() override
    {
        for (const char* sub : {"bin", "env", "picture", "filter", "log", "data"})
            ::mkdir((root_ / sub).c_str(), 0777);
        test::KeepSettingsIn(root_ / "settings");
        env_.layoutState = 0;
        env_.dirs = Directories::FromRoot(root_.path());
        env_.saveSettings = false;
        doc_ = std::make_unique<CLumadriftDoc>(env_);
        placement_.layoutState = 0;
        placement_.width = 800;
        placement_.height = 600;
        frame_ = std::make_unique<CMainFrame>(*doc_, placement_);
        frame_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
        // Red 2x, green 3y, blue 100: brightness grows to the right and down.
        picture_ = root_ / "picture/pic.bmp";
        test::WriteBytes(picture_, test::ColorPicture(kW, kH, [](int x, int y) { return qRgb(2 * x, 3 * y, 100); }));
    }
    void TearDown() override
    {
        frame_.reset();
        doc_.reset();
    }

    CLumadriftView* view() { return frame_->view(); }
    QWidget* viewport() { return view()->viewport(); }
    void Open(const std::string& path) { ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(path))); }
    // State 3: the whole picture's brightness.
    void ToGray(const std::string& path = {})
    {
        Open(path.empty() ? picture_ : path);
        frame_->OnCommand(kCmdRange);
        doc_->setRange({0, 0, doc_->imageWidth() - 1, doc_->imageHeight() - 1});
        ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(kChannelBrightness, 0, 0.0)), 0);
        frame_->UpdateActions();
    }
    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport(), to);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
    }
    void Record(const std::string& path)
    {
        AnswerFile(path);
        frame_->OnCommand(kCmdRecordMacro);
        ASSERT_TRUE(doc_->IsRecording());
    }
    void RunMacro(const std::string& path)
    {
        AnswerFile(path);
        frame_->OnCommand(kCmdRunMacro);
    }
    // The main window active and the keyboard focus in the view, once the
    // window system has had its say.
    bool KeysWithTheView()
    {
        QTest::qWait(50);
        return QTest::qWaitFor([this] {
            return QApplication::activeWindow() == frame_.get() &&
                   QApplication::focusWidget() == static_cast<QWidget*>(view());
        });
    }

    test::TempDir root_;
    DocEnvironment env_;
    FramePlacement placement_;
    std::unique_ptr<CLumadriftDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    std::string picture_;
};

// --- dialogs ------------------------------------------------------------------

QStringList TextsOf(QWidget* dlg)
{
    QStringList t;
    for (auto* l : dlg->findChildren<QLabel*>())
        if (l->isVisibleTo(dlg))
            t << l->text();
    for (auto* b : dlg->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(dlg))
            t << b->text();
    for (auto* g : dlg->findChildren<QGroupBox*>())
        if (g->isVisibleTo(dlg))
            t << g->title();
    return t;
}

TEST_F(Session, DialogTitlesAndLabelsFollowTheCommandTable)
{
    ToGray();
    doc_->PoolAdd("a");
    auto tip = [](int id) { return PromptToolTip(id); };
    auto op = [](int code) { return std::string(FindOperation(code)->name); };
    struct Case {
        int id;
        std::string title;
        std::vector<const char*> texts;
    };
    const Case cases[] = {
        {kCmdZoom, tip(kCmdZoom), {"倍率", "200%", "25%", "指定", "%"}},
        {kCmdColors, tip(kCmdColors), {"ﾏｳｽ", "ｸﾞﾗﾌ", "結果", "OK", "ｷｬﾝｾﾙ"}},
        {kCmdAcquire, "画像の取得", {"Red", "Saturation", "基準", "度", "反転"}},
        {kCmdContrast, "濃度変換", {"ｺﾝﾄﾗｽﾄ", "倍"}},
        {kCmdGamma, "濃度変換", {"γ補正"}},
        {kCmdMovingAverage, tip(kCmdMovingAverage), {"ｶｰﾈﾙ ｻｲｽﾞ", "Xｻｲｽﾞ", "Yｻｲｽﾞ"}},
        {kCmdMedian, tip(kCmdMedian), {"Xｻｲｽﾞ", "Yｻｲｽﾞ"}},
        {kCmdRank, tip(kCmdRank), {"ﾗﾝｸ", "最低値", "最高値", "中央値", "指定"}},
        {kCmdConvolution, "2次微分", {"3 × 3", "5 × 5", "m × n", "参照"}},
        {kCmdAffine, tip(kCmdAffine), {"回転角度", "度", "重心", "拡大率", "移動量", "X", "Y"}},
        {kCmdFft, tip(kCmdFft),
         {"ﾏｽｸ形状", "方形", "円形", "ﾕｰｻﾞ定義", "保存", "通過帯域", "MIN", "MAX", "1.0", "ﾌｧｲﾙﾊﾟｽ", "参照"}},
        {kCmdPool, tip(kCmdPool), {"画像の名称 ：", "追加", "削除", "保存", "⇒ 対象", "全削除"}},
        {kCmdAnd, op(kOpPoolAnd), {"参照 ⇒", "対象 ⇒", "OK", "ｷｬﾝｾﾙ"}},
        {kCmdOr, op(kOpPoolOr), {}},
        {kCmdXor, op(kOpPoolXor), {}},
        {kCmdBinarize, tip(kCmdBinarize), {"2値化閾値", "MIN", "MAX", "0", "255"}},  // last: leaves state 4
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        QString title;
        QStringList texts;
        AnswerModal<QDialog>([&](QDialog* d) {
            title = d->windowTitle();
            texts = TextsOf(d);
            d->reject();
        });
        frame_->OnCommand(c.id);
        EXPECT_EQ(title.toStdString(), c.title);
        for (const char* t : c.texts)
            EXPECT_TRUE(texts.contains(QString::fromUtf8(t))) << t << " in " << texts.join('|').toStdString();
    }
}

TEST_F(Session, ValueDialogsStoreOnOkAndChangeNothingOnCancel)
{
    ToGray();
    struct Case {
        int id;
        int box;  // the dialog's boxes in their order
        const char* shown;
        const char* typed;
        bool ok;
        std::function<double(const ImageSettings&)> stored;
        double want;
    };
    const Case cases[] = {
        {kCmdContrast, 0, "1.0", "2.5x", true, [](const ImageSettings& s) { return s.contrast.factor; }, 2.5},
        {kCmdGamma, 0, "1.0", "0.5", false, [](const ImageSettings& s) { return s.gamma.value; }, 1.0},
        {kCmdGamma, 0, "1.0", "2", true, [](const ImageSettings& s) { return s.gamma.value; }, 2.0},
        {kCmdAffine, 0, "0.0", "45", false, [](const ImageSettings& s) { return s.affine.angle; }, 0.0},
        // Zoom 1.5 about the origin, the rest as stored (zoom Y 0: black).
        {kCmdAffine, 3, "0.0", "1.5", true, [](const ImageSettings& s) { return s.affine.zoomX; }, 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " " << c.typed);
        const int steps = doc_->history().position();
        const std::vector<uint8_t> before = PlaneCopy(*doc_);
        QString shown;
        AnswerModal<QDialog>([&](QDialog* d) {
            QLineEdit* box = d->findChildren<QLineEdit*>().at(c.box);
            shown = box->text();
            box->setText(QString::fromUtf8(c.typed));
            if (c.ok)
                d->accept();
            else
                d->reject();
        });
        frame_->OnCommand(c.id);
        EXPECT_EQ(shown, QString::fromUtf8(c.shown));
        EXPECT_DOUBLE_EQ(c.stored(doc_->settings()), c.want);
        EXPECT_EQ(doc_->history().position(), steps + (c.ok ? 1 : 0));
        EXPECT_EQ(PlaneCopy(*doc_) != before, c.ok);
    }
}

TEST_F(Session, InterImageDialogChoosesReferenceThenTarget)
{
    ToGray();
    const std::vector<uint8_t> a = PlaneCopy(*doc_);
    doc_->PoolAdd("a");
    frame_->OnCommand(kCmdSobel);
    const std::vector<uint8_t> b = PlaneCopy(*doc_);
    doc_->PoolAdd("b");
    const std::vector<uint8_t> tiny(16, 7);
    doc_->pool().Add("small", kStateGray, MakeGrayHeader(4, 4), tiny.data());
    const int steps = doc_->history().position();
    bool stayedOpen = false;
    QString message;
    AnswerModal<CInterImageDlg>([&](CInterImageDlg* d) {
        QTreeWidget* list = d->list();
        ASSERT_EQ(list->topLevelItemCount(), 3);
        EXPECT_EQ(list->topLevelItem(2)->text(1), QStringLiteral("4 × 4"));
        d->accept();  // nothing chosen yet
        stayedOpen = d->isVisible();
        list->setCurrentItem(list->topLevelItem(2));
        AnswerMessage(message);
        d->referenceButton()->click();
        EXPECT_TRUE(d->referenceName()->text().isEmpty());
        list->setCurrentItem(list->topLevelItem(1));
        d->referenceButton()->click();
        // With a reference chosen, a double-click chooses the target.
        const QPoint row0 = list->visualItemRect(list->topLevelItem(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row0);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row0);
        EXPECT_EQ(d->referenceName()->text(), QStringLiteral("b"));
        EXPECT_EQ(d->targetName()->text(), QStringLiteral("a"));
        d->accept();
        if (d->isVisible())
            d->reject();
    });
    frame_->OnCommand(kCmdXor);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(message, QStringLiteral("選択画像の大きさが処理対象範囲と異なります。"));
    std::vector<uint8_t> want(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        want[i] = static_cast<uint8_t>(a[i] ^ b[i]);
    EXPECT_EQ(PlaneCopy(*doc_), want);
    EXPECT_EQ(doc_->history().position(), steps + 2);  // reference, then the result
}

TEST_F(Session, ColourDialogOutlinesTheFocusedButtonAndStoresOnOk)
{
    Open(picture_);
    bool noneAtStart = false;
    std::vector<int> outlined;
    auto outlines = [](CColorSettingsDlg* d) {
        int which = -1, count = 0;
        for (int i = 0; i < 3; ++i)
            if (d->button(i)->highlighted) {
                which = i;
                ++count;
            }
        return count == 1 ? which : -count;
    };
    AnswerModal<CColorSettingsDlg>([&](CColorSettingsDlg* d) {
        (void)QTest::qWaitFor([d] { return d->isActiveWindow(); });
        noneAtStart = outlines(d) == 0;
        // Keyboard focus alone moves the outline.
        d->button(1)->setFocus(Qt::TabFocusReason);
        outlined.push_back(outlines(d));
        AnswerModal<QColorDialog>([](QColorDialog* c) {
            c->setCurrentColor(QColor(0, 255, 0));
            c->accept();
        });
        QTest::mouseClick(d->button(2), Qt::LeftButton);
        outlined.push_back(outlines(d));
        d->accept();
    });
    frame_->OnCommand(kCmdColors);
    EXPECT_TRUE(noneAtStart);
    EXPECT_EQ(outlined, (std::vector<int>{1, 2}));
    EXPECT_EQ(doc_->settings().resultColor, 0x0000FF00u);
    EXPECT_EQ(doc_->settings().mouseColor, 0u);
}

TEST_F(Session, PoolDialogButtons)
{
    ToGray();
    const std::string saved = root_ / "picture/pool.bmp";
    QStringList afterAdd, afterDelete;
    int afterDeleteAll = -1;
    AnswerModal<CPoolDlg>([&](CPoolDlg* d) {
        QTreeWidget* list = d->list();
        auto names = [list] {
            QStringList n;
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                n << list->topLevelItem(i)->text(0) + "/" + list->topLevelItem(i)->text(1);
            return n;
        };
        d->addButton()->click();  // no name: nothing
        for (const char* n : {"a", "b"}) {
            d->nameBox()->setText(QString::fromUtf8(n));
            d->addButton()->click();
        }
        afterAdd = names();
        list->setCurrentItem(list->topLevelItem(0));
        d->deleteButton()->click();
        afterDelete = names();
        list->setCurrentItem(list->topLevelItem(0));
        AnswerFile(saved);
        d->saveButton()->click();
        d->deleteAllButton()->click();
        afterDeleteAll = list->topLevelItemCount();
        d->accept();
    });
    frame_->OnCommand(kCmdPool);
    EXPECT_EQ(afterAdd, (QStringList{"a/64 × 48", "b/64 × 48"}));
    EXPECT_EQ(afterDelete, (QStringList{"b/64 × 48"}));
    EXPECT_EQ(afterDeleteAll, 0);
    EXPECT_EQ(doc_->pool().size(), 0);
    // A gray BMP: headers and palette, then 48 rows of 64 bytes.
    EXPECT_EQ(test::ReadBytes(saved).size(), 1078u + 64u * 48u);
}

// --- labeling and profile results -----------------------------------------------

TEST_F(Session, LabelingSaveWritesTheListAndRecordsItsFile)
{
    ToGray();
    doc_->Binarize({60, 255});
    const std::string lbl = root_ / "data/objects.lbl";
    Record(root_ / "filter/rec.flt");
    int rows = 0;
    AnswerModal<CLabelingResultDlg>([&](CLabelingResultDlg* d) {
        rows = d->list()->topLevelItemCount();
        AnswerFile(lbl);
        d->saveButton()->click();
        d->accept();
    });
    frame_->OnCommand(kCmdLabel);
    frame_->OnCommand(kCmdStopMacro);
    ASSERT_GE(rows, 1);
    const std::string text = Text(lbl);
    EXPECT_EQ(text.substr(0, text.find('\n')), "No.\t左上座標\t右下座標\t重心座標\t面積(画素)");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), rows + 1);
    EXPECT_EQ(Text(root_ / "filter/rec.flt"), "04 ラベリング\nファイル=" + lbl + "\n");
}

// A click that draws no line keeps the table, and a save writes what its
// recorded line replays.
TEST_F(Session, OnePointProfileLineKeepsTheTableThatIsSaved)
{
    ToGray();
    const std::string pfl = root_ / "data/line.pfl";
    Record(root_ / "filter/rec.flt");
    frame_->OnCommand(kCmdProfile);
    CProfileResultWnd* wnd = view()->profileWindow();
    ASSERT_NE(wnd, nullptr);
    Drag({5 + 10, 5 + 20}, {5 + 13, 5 + 20});
    ASSERT_EQ(wnd->list()->topLevelItemCount(), 3);
    const QImage withGraph = view()->RenderViewport();
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, {5 + 30, 5 + 30});
    EXPECT_EQ(wnd->list()->topLevelItemCount(), 3);
    EXPECT_NE(view()->RenderViewport(), withGraph);  // the press took the graph away
    AnswerFile(pfl);
    wnd->saveButton()->click();
    frame_->OnCommand(kCmdStopMacro);
    const std::string saved = test::ReadText(pfl);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 4);
    EXPECT_EQ(Text(root_ / "filter/rec.flt"),
              "58 濃度プロファイル\nID=1\n"
              "58 濃度プロファイル\nID=2 始点X=10 始点Y=20 終点X=13 終点Y=20 ファイル=" + pfl + "\n");
    // Replayed in the window from the gray picture: the same file.
    frame_->OnCommand(kCmdProfile);
    ASSERT_EQ(doc_->state(), kStateGray);
    std::remove(pfl.c_str());
    RunMacro(root_ / "filter/rec.flt");
    EXPECT_EQ(test::ReadText(pfl), saved);
}

// After every replayed profile entry the window shows what it did.
TEST_F(Session, ReplayedProfileEntriesShowInTheWindow)
{
    ToGray();
    const std::string macro = root_ / "filter/profile.flt";
    WriteMacro(macro, "58 濃度プロファイル\nID=1\n"
                      "58 濃度プロファイル\nID=2 始点X=2 始点Y=3 終点X=12 終点Y=3 ファイル=../data/a.pfl\n"
                      "58 濃度プロファイル\nID=0\n"
                      "58 濃度プロファイル\nID=1\n"
                      "58 濃度プロファイル\nID=2 始点X=40 始点Y=40 終点X=40 終点Y=10 ファイル=../data/b.pfl\n");
    // What the window shows between entries: the result window's rows
    // (-1 without it) and the view's line.
    std::vector<std::string> seen;
    QTimer trace;
    QObject::connect(&trace, &QTimer::timeout, [&] {
        CProfileResultWnd* w = view()->profileWindow();
        const ViewRect& l = view()->profileLineDisplay();
        std::string s = std::to_string(w && w->isVisible() ? w->list()->topLevelItemCount() : -1);
        if (w && w->list()->topLevelItemCount() > 0)
            s += " " + std::to_string(l.left) + "," + std::to_string(l.top) + "-" +
                 std::to_string(l.right) + "," + std::to_string(l.bottom);
        if (seen.empty() || seen.back() != s)
            seen.push_back(s);
    });
    trace.start(0);
    RunMacro(macro);
    trace.stop();
    EXPECT_EQ(seen, (std::vector<std::string>{"-1", "0", "10 2,3-12,3", "-1", "0", "30 40,40-40,10"}));
    // The last line as drawn: its table, its graph.
    CProfileResultWnd* wnd = view()->profileWindow();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(wnd->list()->topLevelItem(0)->text(1), QStringLiteral("(40, 10)"));
    const std::string b = test::ReadText(root_ / "data/b.pfl");
    EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 31);
    // The line is drawn where the macro put it, not where the mouse last was.
    EXPECT_NE(view()->RenderViewport().pixel(5 + 40, 5 + 20) & 0xFFFFFF,
              view()->cachedImage().pixel(40, 20) & 0xFFFFFF);
}

TEST_F(Session, ResultWindowsLeaveTheKeysWithTheViewAndClearOnABlankClick)
{
    ToGray();
    frame_->zoomBox()->setFocus();  // the operator was in the zoom box
    frame_->OnCommand(kCmdProfile);
    CProfileResultWnd* wnd = view()->profileWindow();
    ASSERT_NE(wnd, nullptr);
    EXPECT_TRUE(KeysWithTheView());
    Drag({5 + 10, 5 + 20}, {5 + 16, 5 + 20});
    QTreeWidget* list = wnd->list();
    list->setCurrentItem(list->topLevelItem(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(1)).center());
    EXPECT_EQ(view()->selectedItems(), std::vector<int>{1});
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(10, list->viewport()->height() - 4));
    EXPECT_TRUE(view()->selectedItems().empty());
    // The close box leaves the profile; the window, still inside its own
    // close event, goes once that event is over.
    QPointer<CProfileResultWnd> gone(wnd);
    wnd->close();
    EXPECT_EQ(doc_->state(), kStateGray);
    EXPECT_TRUE(!gone.isNull() && gone->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone.isNull(); }));

    // The labeling result: highlights by a click, none by a blank click, and
    // the keys back in the view afterwards.
    doc_->Binarize({60, 255});
    std::vector<int> clicked, blank;
    frame_->zoomBox()->setFocus();
    AnswerModal<CLabelingResultDlg>([&](CLabelingResultDlg* d) {
        QTreeWidget* l = d->list();
        l->setCurrentItem(l->topLevelItem(0));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {},
                          l->visualItemRect(l->topLevelItem(0)).center());
        clicked = view()->selectedItems();
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, QPoint(10, l->viewport()->height() - 4));
        blank = view()->selectedItems();
        d->accept();
    });
    frame_->OnCommand(kCmdLabel);
    EXPECT_EQ(clicked, std::vector<int>{1});
    EXPECT_TRUE(blank.empty());
    EXPECT_TRUE(KeysWithTheView());
}

TEST_F(Session, OverflowMessageOnlyWhenObjectsAreLeftOut)
{
    // n dots of density 200 on black, two pixels apart.
    for (int n : {255, 256}) {
        SCOPED_TRACE(n);
        const std::string pic = root_ / ("picture/dots" + std::to_string(n) + ".bmp");
        test::WriteBytes(pic, test::ColorPicture(40, 26, [n](int x, int y) {
                             const bool dot = x % 2 == 0 && y % 2 == 0 && (y / 2) * 20 + x / 2 < n;
                             return dot ? qRgb(200, 200, 200) : qRgb(0, 0, 0);
                         }));
        ToGray(pic);
        doc_->Binarize({100, 255});
        QString message;
        QPointer<QTimer> poll = AnswerMessage(message);
        int rows = -1;
        AnswerModal<CLabelingResultDlg>([&](CLabelingResultDlg* d) {
            QTest::qWait(50);  // time for a message to come up
            rows = d->list()->topLevelItemCount();
            d->accept();
        });
        frame_->OnCommand(kCmdLabel);
        StopAnswering(poll);
        EXPECT_EQ(rows, 255);
        EXPECT_EQ(message.isEmpty(), n == 255) << message.toStdString();
    }
}

// --- binarization dismissed ---------------------------------------------------

TEST_F(Session, DismissedBinarizationShowsWhatItsLineReplays)
{
    struct Case {
        bool escape;  // else the close box
        BinarizeParams stored;
        const char* shown[2];
        const char* line;
    };
    const Case cases[] = {
        {true, {128, 128}, {"128", "128"}, "最小値=128 最大値=128"},
        {false, {40, 90}, {"40", "90"}, "最小値=40 最大値=90"},
        // Out of range in a hand-edited settings file: clamped once.
        {true, {-5, 300}, {"0", "255"}, "最小値=0 最大値=255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ToGray();
        doc_->settings().binarize = c.stored;
        const std::string macro = root_ / ("filter/bin" + std::to_string(&c - cases) + ".flt");
        Record(macro);
        QString shown[2];
        int bars[2] = {-1, -1};
        std::vector<uint8_t> firstPreview;
        AnswerModal<CBinarizeDlg>([&](CBinarizeDlg* d) {
            firstPreview = PlaneCopy(*doc_);
            for (int i = 0; i < 2; ++i) {
                shown[i] = d->edit(i)->text();
                bars[i] = d->scrollBar(i)->value();
            }
            d->scrollBar(0)->setValue(10);  // previewed, never confirmed
            d->scrollBar(1)->setValue(20);
            if (c.escape)
                QTest::keyClick(d, Qt::Key_Escape);
            else
                d->close();
        });
        frame_->OnCommand(kCmdBinarize);
        frame_->OnCommand(kCmdStopMacro);
        EXPECT_EQ(doc_->state(), kStateBinary);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(shown[i], QString::fromUtf8(c.shown[i]));
            EXPECT_EQ(bars[i], shown[i].toInt());
        }
        const std::vector<uint8_t> result = PlaneCopy(*doc_);
        EXPECT_EQ(result, firstPreview);  // the stored thresholds' picture
        EXPECT_EQ(Text(macro), std::string("01 2値化\n") + c.line + "\n");
        // Its line replayed on the gray picture gives the same picture.
        frame_->OnCommand(kCmdUndo);
        ASSERT_EQ(doc_->state(), kStateGray);
        RunMacro(macro);
        EXPECT_EQ(PlaneCopy(*doc_), result);
    }
}

// --- FFT ------------------------------------------------------------------------

void WriteMask(const std::string& path, int nx, int ny)
{
    std::string text;
    for (int y = 0; y < ny; ++y) {
        for (int x = 0; x < nx; ++x)
            text += x ? ",1" : "1";
        text += "\r\n";
    }
    test::WriteText(path, text);
}

TEST_F(Session, FftMaskPathIsCheckedHoweverItIsCommitted)
{
    ToGray();  // 64 x 48: a grid of 64 x 64
    const std::string good = root_ / "filter/ones.msk";
    const std::string bad = root_ / "filter/short.msk";
    WriteMask(good, 64, 64);
    WriteMask(bad, 64, 63);
    enum Commit { kFocusOut, kEnter, kOk };
    struct Case {
        Commit how;
        bool valid;
    };
    const Case cases[] = {{kFocusOut, false}, {kEnter, false}, {kOk, false},
                          {kFocusOut, true},  {kEnter, true},  {kOk, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.how << " " << c.valid);
        const std::string path = c.valid ? good : bad;
        // The bank holds the good mask before the path is typed.
        doc_->settings().fft = {0.0, 1.0, kFftMaskUser, good};
        const std::string macro = root_ / ("filter/fft" + std::to_string(&c - cases) + ".flt");
        Record(macro);
        QString message;
        bool open = false;
        QString box;
        AnswerModal<CFftDlg>([&](CFftDlg* d) {
            (void)QTest::qWaitFor([d] { return d->isActiveWindow(); });
            QLineEdit* edit = d->pathBox();
            edit->setFocus();
            edit->setText(QString::fromStdString(path));
            QPointer<QTimer> poll = AnswerMessage(message);
            if (c.how == kFocusOut)
                QTest::keyClick(edit, Qt::Key_Tab);
            else if (c.how == kEnter)
                QTest::keyClick(edit, Qt::Key_Return);
            else
                QTest::mouseClick(d->findChild<QDialogButtonBox*>()->buttons().first(), Qt::LeftButton);
            QTest::qWait(20);
            StopAnswering(poll);
            open = d->isVisible();
            box = edit->text();
            if (open) {
                d->shapeButton(0)->click();
                d->accept();
            }
        });
        frame_->OnCommand(kCmdFft);
        frame_->OnCommand(kCmdStopMacro);
        if (c.valid) {
            EXPECT_TRUE(message.isEmpty());
            EXPECT_EQ(open, c.how == kFocusOut);
            EXPECT_EQ(box.toStdString(), path);
        } else {
            EXPECT_EQ(message, QStringLiteral("指定されたﾏｽｸﾌｧｲﾙが無効です。"));
            EXPECT_TRUE(open);
            EXPECT_TRUE(box.isEmpty());
        }
        // What ran is what was recorded; an invalid path never reaches it.
        const std::string line = Text(macro);
        EXPECT_EQ(line.find("short.msk"), std::string::npos) << line;
        EXPECT_EQ(line.find("マスク=2") != std::string::npos, c.valid && c.how != kFocusOut) << line;
    }
}

TEST_F(Session, FftThatCannotStartSaysWhy)
{
    ToGray();
    doc_->settings().fftThreads = 0;
    QString threads;
    AnswerMessage(threads);
    frame_->OnCommand(kCmdFft);
    EXPECT_EQ(threads, QStringLiteral("ｽﾚｯﾄﾞの生成数が上限を超えています"));
    // No transform without the planes to take it from.
    doc_->settings().fftThreads = 1;
    doc_->planes().ReleasePlaneBank();
    QString memory;
    AnswerMessage(memory);
    frame_->OnCommand(kCmdFft);
    EXPECT_EQ(memory, QString::fromUtf8(kFftCannotStartText));
}

// --- the main frame -------------------------------------------------------------

TEST_F(Session, CameraFramesShowTheRangeInThePanel)
{
    doc_->settings().cameraUse = 1;
    doc_->settings().cameraWidth = 32;
    doc_->settings().cameraHeight = 24;
    doc_->settings().range = {2, 3, 21, 17};  // as read from the settings file
    view()->SetCaptureSourceFactory([] { return std::make_unique<SyntheticSource>(0); });
    frame_->UpdateActions();
    frame_->action(kCmdPreview)->trigger();
    ASSERT_EQ(doc_->state(), kStateCamera);
    CSidePanel* panel = frame_->sidePanel();
    const QStringList want{"2", "3", "20", "15"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(panel->rangeBox(i)->text(), want[i]) << i;
    frame_->action(kCmdCapture)->trigger();
    EXPECT_EQ(panel->rangeBox(2)->text(), QStringLiteral("20"));
}

TEST_F(Session, FrameOfAFreshInstallationShows)
{
    Open(picture_);
    frame_->OnCommand(kCmdRange);
    ASSERT_EQ(doc_->settings().mouseColor, 0u);
    Drag({15, 25}, {44, 40});
    // Pixel (10, 20): red 20, green 60, blue 100, inverted.
    EXPECT_EQ(view()->RenderViewport().pixel(15, 25) & 0xFFFFFF, qRgb(235, 195, 155) & 0xFFFFFF);
    EXPECT_EQ(doc_->settings().mouseColor, 0u);
}

TEST_F(Session, SidePanelHasTheFixedWidthOfADialogBar)
{
    QDockWidget* dock = frame_->dock();
    const int width = dock->width();
    EXPECT_EQ(dock->minimumWidth(), dock->maximumWidth());
    frame_->resizeDocks({dock}, {width + 150}, Qt::Horizontal);  // as a drag of its edge
    frame_->resize(frame_->width() + 200, frame_->height());
    QTest::qWait(20);
    EXPECT_EQ(dock->width(), width);
}

TEST_F(Session, OpenDialogStartsWithBmpFiles)
{
    QString name, dir;
    AnswerModal<QFileDialog>([&](QFileDialog* d) {
        if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name = edit->text();
        dir = d->directory().absolutePath();
        d->reject();
    });
    frame_->OnCommand(kCmdOpen);
    EXPECT_EQ(name, QStringLiteral("*.bmp"));
    EXPECT_EQ(dir, QDir(QString::fromStdString(root_ / "picture")).absolutePath());
}

TEST_F(Session, QtDialogsSpeakJapanese)
{
    QTranslator* t = InstallQtTranslation(*QCoreApplication::instance());
    ASSERT_NE(t, nullptr) << "Qt's Japanese translation is not installed";
    QString cancel, lookIn;
    AnswerModal<QMessageBox>([&](QMessageBox* box) {
        cancel = box->button(QMessageBox::Cancel)->text();
        box->accept();
    });
    QMessageBox::warning(frame_.get(), QStringLiteral("Lumadrift"), QStringLiteral("?"),
                         QMessageBox::Ok | QMessageBox::Cancel);
    AnswerModal<QFileDialog>([&](QFileDialog* d) {
        if (auto* l = d->findChild<QLabel*>(QStringLiteral("lookInLabel")))
            lookIn = l->text();
        d->reject();
    });
    frame_->OnCommand(kCmdOpen);
    QCoreApplication::removeTranslator(t);
    delete t;
    EXPECT_EQ(cancel, QStringLiteral("キャンセル"));
    EXPECT_FALSE(lookIn.isEmpty());
    EXPECT_NE(lookIn, QStringLiteral("Look in:"));
}

// --- a whole session, recorded here and replayed by the replay tool -------------

TEST_F(Session, RecordedSessionReplaysByteForByteInTheReplayTool)
{
    const std::string samples = std::string(LUMADRIFT_SAMPLES_EXE) + " '" + (root_ / "picture") + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(samples.c_str()), 0);
    const std::string sample = root_ / "picture/sample.bmp";
    const std::string macro = root_ / "filter/session.flt";
    const std::string lbl = root_ / "data/session.lbl";
    const std::string gray = root_ / "picture/session-gray.bmp";

    Record(macro);
    AnswerFile(sample);
    frame_->OnCommand(kCmdOpen);
    ASSERT_EQ(doc_->state(), kStateColor);
    QTest::mouseClick(frame_->sidePanel()->showButton(), Qt::LeftButton);
    Drag({5 + 200, 5 + 150}, {5 + 20, 5 + 30});
    AnswerModal<CAcquireDlg>([](CAcquireDlg* d) {
        d->channelButton(kChannelBrightness)->click();
        d->accept();
    });
    QTest::mouseClick(frame_->sidePanel()->takeButton(), Qt::LeftButton);
    ASSERT_EQ(doc_->state(), kStateGray);
    AnswerModal<CKernelDlg>([](CKernelDlg* d) {
        d->sizeBox(0)->setText(QStringLiteral("5"));
        d->accept();
    });
    frame_->OnCommand(kCmdMovingAverage);
    AnswerModal<CBinarizeDlg>([](CBinarizeDlg* d) {
        d->scrollBar(0)->setValue(90);
        d->scrollBar(1)->setValue(250);
        d->accept();
    });
    frame_->OnCommand(kCmdBinarize);
    frame_->OnCommand(kCmdDilate);
    AnswerModal<CLabelingResultDlg>([&](CLabelingResultDlg* d) {
        AnswerFile(lbl);
        d->saveButton()->click();
        d->accept();
    });
    frame_->OnCommand(kCmdLabel);
    AnswerFile(gray);
    frame_->OnCommand(kCmdSaveAs);
    frame_->OnCommand(kCmdStopMacro);
    ASSERT_EQ(doc_->state(), kStateLabeled);

    const std::string out = root_ / "out";
    const std::string cmd = "cd '" + root_.path() + "' && env HOME='" + root_.path() + "' '" +
                            LUMADRIFT_REPLAY_EXE + "' --root '" + root_.path() + "' -o '" + out +
                            "' '" + macro + "' '" + sample + "' >/dev/null 2>&1";
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0) << Text(macro);
    const auto shownGray = test::ReadBytes(gray);
    ASSERT_GT(shownGray.size(), 1078u);
    EXPECT_EQ(test::ReadBytes(out + "/sample.bmp"), shownGray);
    const auto shownLbl = test::ReadBytes(lbl);
    ASSERT_FALSE(shownLbl.empty());
    EXPECT_EQ(test::ReadBytes(out + "/sample.lbl"), shownLbl);
}

}  // namespace
}  // namespace lumadrift
