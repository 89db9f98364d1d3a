// The window driven as an operator would: menus per state, the zoom box,
// mouse drags on the view, the side panel and the dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>

#include "commands/lumadrift_doc.h"
#include "support/test_support.h"
#include "ui/gui_support.h"
#include "ui/window_fixture.h"
#include "ui/dialogs.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"
#include "ui/result_windows.h"
#include "ui/side_panel.h"

namespace lumadrift {
namespace {

using test::AnswerModal;
using test::FocusOut;
using test::StopAnswering;

// A 24-bit picture whose pixel (x, y) is red 2x, green 3y, blue 100.
std::vector<uint8_t> ColorBmp(int w, int h)
{
    return test::ColorPicture(w, h, [](int x, int y) { return qRgb(2 * x, 3 * y, 100); });
}

class Workbench : public test::MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenWindow(900, 700));
        picture_ = dir_ / "pic.bmp";
        test::WriteBytes(picture_, ColorBmp(320, 240));
    }

    void Open() { ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(picture_))); }
    QWidget* viewport() { return frame_->view()->viewport(); }
    bool Enabled(int id) { return frame_->action(id)->isEnabled(); }
    // State 3 from the whole picture's brightness.
    void ToGray()
    {
        Open();
        frame_->OnCommand(kCmdRange);
        doc_->setRange({0, 0, 319, 239});
        ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(3, 0, 0.0)), 0);
        ASSERT_EQ(doc_->state(), kStateGray);
        frame_->UpdateActions();
    }
    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport(), to);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, to);
    }

    std::string picture_;
};

TEST_F(Workbench, MenusAndPanelFollowTheState)
{
    struct Row {
        int id;
        bool noImage, color, rangeEdit;
    };
    const Row rows[] = {{kCmdOpen, true, true, true},       {kCmdSave, false, true, true},
                        {kCmdZoom, false, true, true},      {kCmdRange, false, true, true},
                        {kCmdAcquire, false, false, true},  {kCmdBinarize, false, false, false},
                        {kCmdRunMacro, true, true, true},   {kCmdStopMacro, false, false, false}};
    auto check = [&](int column) {
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << "id " << r.id << " column " << column);
            const bool want = column == 0 ? r.noImage : column == 1 ? r.color : r.rangeEdit;
            EXPECT_EQ(Enabled(r.id), want);
        }
    };
    check(0);
    EXPECT_FALSE(frame_->zoomBox()->isEnabled());
    EXPECT_FALSE(frame_->sidePanel()->rangeBox(0)->isEnabled());
    Open();
    check(1);
    EXPECT_TRUE(frame_->zoomBox()->isEnabled());
    EXPECT_TRUE(frame_->sidePanel()->rangeBox(3)->isEnabled());
    EXPECT_FALSE(frame_->action(kCmdRange)->isChecked());
    // The panel's toggle issues the command.
    QTest::mouseClick(frame_->sidePanel()->showButton(), Qt::LeftButton);
    EXPECT_EQ(doc_->state(), kStateRangeEdit);
    check(2);
    EXPECT_TRUE(frame_->action(kCmdRange)->isChecked());
    EXPECT_TRUE(frame_->sidePanel()->showButton()->isChecked());
    EXPECT_TRUE(frame_->sidePanel()->takeButton()->isEnabled());
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("pic.bmp - Lumadrift"));
}

TEST_F(Workbench, ActionsCarryTextsPromptsAndShortcuts)
{
    QAction* open = frame_->action(kCmdOpen);
    EXPECT_EQ(open->text(), QStringLiteral("開く(&O)..."));
    EXPECT_EQ(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(open->statusTip(), QStringLiteral("既存のﾌｧｲﾙを開く"));
    EXPECT_EQ(open->toolTip(), QStringLiteral("開く"));
    EXPECT_EQ(frame_->action(kCmdSave)->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QStringList titles;
    for (QAction* a : frame_->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("ﾌｧｲﾙ(&F)"), QStringLiteral("表示(&V)"),
                                   QStringLiteral("設定(&S)"), QStringLiteral("画像処理(&I)"),
                                   QStringLiteral("ﾍﾙﾌﾟ(&H)")}));
}

TEST_F(Workbench, RecentFileListRemembersTheOpenedPicture)
{
    EXPECT_FALSE(Enabled(kCmdRecentFile));
    Open();
    ASSERT_EQ(frame_->recentFiles().size(), 1);
    QAction* first = nullptr;
    for (QAction* a : frame_->recentMenuHolder()->actions())
        if (a->text().startsWith(QStringLiteral("&1 ")))
            first = a;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isEnabled());
    EXPECT_TRUE(first->text().endsWith(QStringLiteral("pic.bmp")));
    QSettings s;
    EXPECT_EQ(s.value(QStringLiteral("Recent File List/File1")).toString(),
              QFileInfo(QString::fromStdString(picture_)).absoluteFilePath());
}

TEST_F(Workbench, ZoomBoxEntriesAndCustomZoom)
{
    QComboBox* box = frame_->zoomBox();
    ASSERT_EQ(box->count(), 6);
    EXPECT_EQ(box->itemText(0), QStringLiteral("200%"));
    EXPECT_EQ(box->itemText(5), QStringLiteral("25%"));
    EXPECT_EQ(box->currentText(), QStringLiteral("100%"));
    Open();
    doc_->setZoom(120);  // as the zoom dialog's OK does
    ASSERT_EQ(box->count(), 7);
    EXPECT_EQ(box->currentText(), QStringLiteral("120%"));
    box->activated(4);  // the operator picks "50%"
    EXPECT_EQ(doc_->zoom(), 50);
    EXPECT_EQ(box->count(), 6);
    EXPECT_EQ(box->currentIndex(), 4);
    // The scroll area follows: 160 x 40 + 10 fits, nothing to scroll.
    EXPECT_EQ(frame_->view()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(Workbench, ZoomDialogPresetsAndSpecified)
{
    CZoomDlg dlg(120);
    EXPECT_TRUE(dlg.preset(6)->isChecked());
    EXPECT_EQ(dlg.valueBox()->text(), QStringLiteral("120"));
    dlg.preset(4)->click();
    EXPECT_EQ(dlg.valueBox()->text(), QStringLiteral("50"));
    dlg.preset(6)->click();
    dlg.valueBox()->setText(QStringLiteral("0"));
    dlg.accept();
    EXPECT_EQ(dlg.zoom(), kMinZoom);  // no zoom of 0 reaches toImage
}

TEST_F(Workbench, BandDragStoresTheImageRange)
{
    Open();
    frame_->OnCommand(kCmdRange);
    Drag({15, 25}, {114, 224});
    EXPECT_EQ(doc_->range(), (ProcessingRange{10, 20, 109, 219}));
    CSidePanel* panel = frame_->sidePanel();
    EXPECT_EQ(panel->rangeBox(0)->text(), QStringLiteral("10"));
    EXPECT_EQ(panel->rangeBox(1)->text(), QStringLiteral("20"));
    EXPECT_EQ(panel->rangeBox(2)->text(), QStringLiteral("100"));
    EXPECT_EQ(panel->rangeBox(3)->text(), QStringLiteral("200"));
}

TEST_F(Workbench, GrabbedCornerDraggedPastTheOtherEdgeFlips)
{
    Open();
    frame_->OnCommand(kCmdRange);
    Drag({15, 25}, {114, 64});
    ASSERT_EQ(doc_->range(), (ProcessingRange{10, 20, 109, 59}));
    // Left-top corner taken to the right of the right edge.
    Drag({15, 25}, {200, 25});
    EXPECT_EQ(doc_->range(), (ProcessingRange{109, 20, 195, 59}));
}

TEST_F(Workbench, MoveDragStopsAtTheImageEdge)
{
    Open();
    frame_->OnCommand(kCmdRange);
    Drag({15, 25}, {114, 64});
    Drag({60, 40}, {400, 40});
    const ProcessingRange r = doc_->range();
    EXPECT_EQ(r.width(), 100);
    EXPECT_EQ(r.right, 319);
    EXPECT_EQ(r.top, 20);
}

TEST_F(Workbench, FrameIsDrawnExclusiveOrInTheMouseColour)
{
    Open();
    frame_->OnCommand(kCmdRange);
    doc_->settings().mouseColor = 0x00FFFFFF;
    Drag({15, 25}, {114, 64});
    const QImage shown = frame_->view()->RenderViewport();
    // Pixel (10, 20) is red 20, green 60, blue 100; the white pen inverts it.
    EXPECT_EQ(shown.pixel(15, 25) & 0xFFFFFF, qRgb(235, 195, 155) & 0xFFFFFF);
    // Inside the frame the picture is untouched.
    EXPECT_EQ(shown.pixel(40, 40) & 0xFFFFFF, qRgb(70, 105, 100) & 0xFFFFFF);
    frame_->OnCommand(kCmdRange);  // state 1: no frame
    EXPECT_EQ(frame_->view()->RenderViewport().pixel(15, 25) & 0xFFFFFF,
              qRgb(20, 60, 100) & 0xFFFFFF);
}

TEST(XorDrawing, TwiceRestoresThePicture)
{
    for (int zoom : {25, 100, 150}) {
        SCOPED_TRACE(zoom);
        QImage img(60, 40, QImage::Format_RGB32);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x)
                img.setPixel(x, y, qRgb(x * 4, y * 6, 77));
        const QImage before = img.copy();
        DrawRangeFrame(img, {5, 5, 30, 20}, 0x0000FF80, zoom);
        EXPECT_NE(img, before);
        EXPECT_EQ(qAlpha(img.pixel(5, 12)), 255);
        DrawRangeFrame(img, {5, 5, 30, 20}, 0x0000FF80, zoom);
        EXPECT_EQ(img, before);
        DrawProfileLine(img, {3, 30, 50, 7}, 0x00123456, zoom);
        DrawProfileLine(img, {3, 30, 50, 7}, 0x00123456, zoom);
        EXPECT_EQ(img, before);
    }
}

TEST_F(Workbench, ReadOutShowsColourAndBrightness)
{
    Open();
    QTest::mouseMove(viewport(), {5 + 3, 5 + 4});
    CSidePanel* p = frame_->sidePanel();
    // X, Y, Red, Green, Blue, 輝度: trunc(0.2999*6 + 0.587*12 + 0.114*100).
    const QStringList want{"3", "4", "6", "12", "100", "20"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(p->valueField(i)->text(), want[i]) << i;
    // Beyond the picture the pointer is clamped onto its last column.
    QTest::mouseMove(viewport(), {600, 30});
    EXPECT_EQ(p->valueField(0)->text(), QStringLiteral("319"));
}

TEST_F(Workbench, GrayReadOutRepeatsTheValue)
{
    ToGray();
    QTest::mouseMove(viewport(), {5 + 3, 5 + 4});
    CSidePanel* p = frame_->sidePanel();
    for (int i = 2; i < 6; ++i)
        EXPECT_EQ(p->valueField(i)->text(), QStringLiteral("20")) << i;
}

TEST_F(Workbench, RangeBoxesTakeDigitsAndEnterApplies)
{
    Open();
    frame_->OnCommand(kCmdRange);
    CSidePanel* p = frame_->sidePanel();
    const QString values[4] = {"10", "20", "30", "40"};
    for (int i = 0; i < 4; ++i) {
        p->rangeBox(i)->clear();
        QTest::keyClicks(p->rangeBox(i), values[i] + QStringLiteral("x"));
        EXPECT_EQ(p->rangeBox(i)->text(), values[i]);
    }
    QTest::keyClick(p->rangeBox(3), Qt::Key_Return);
    EXPECT_EQ(p->rangeBox(3)->text(), QStringLiteral("40"));
    EXPECT_EQ(doc_->range(), (ProcessingRange{10, 20, 39, 59}));
    // Leaving a box applies it as well: W = 0 gives a range 2 wide.
    p->rangeBox(2)->setText(QStringLiteral("0"));
    FocusOut(p->rangeBox(2));
    EXPECT_EQ(doc_->range(), (ProcessingRange{9, 20, 10, 59}));
    EXPECT_EQ(p->rangeBox(2)->text(), QStringLiteral("2"));
}

TEST_F(Workbench, AcquisitionDialogAngleOnlyForHue)
{
    CAcquireDlg dlg;
    EXPECT_TRUE(dlg.channelButton(0)->isChecked());
    EXPECT_FALSE(dlg.angleBox()->isEnabled());
    EXPECT_EQ(dlg.angleBox()->text(), QStringLiteral("0.000"));
    dlg.channelButton(4)->click();
    EXPECT_TRUE(dlg.angleBox()->isEnabled());
    dlg.angleBox()->setText(QStringLiteral("12.5deg"));
    dlg.invertBox()->setChecked(true);
    AcquireParams a = dlg.params();
    EXPECT_EQ(a.channel, 4);
    EXPECT_EQ(a.invert, 1);
    EXPECT_DOUBLE_EQ(a.baseAngle, 12.5);
    dlg.channelButton(5)->click();
    EXPECT_FALSE(dlg.angleBox()->isEnabled());
}

TEST_F(Workbench, TakeButtonAcquiresThroughTheDialog)
{
    Open();
    frame_->OnCommand(kCmdRange);
    // Pressed on the empty range's point, the band would move it (the move
    // zone of a tiny frame reaches past it): start from the far corner.
    Drag({324, 244}, {5, 5});
    AnswerModal<CAcquireDlg>([](CAcquireDlg* d) {
        d->channelButton(1)->click();
        d->accept();
    });
    QTest::mouseClick(frame_->sidePanel()->takeButton(), Qt::LeftButton);
    EXPECT_EQ(doc_->state(), kStateGray);
    EXPECT_TRUE(Enabled(kCmdBinarize));
    EXPECT_FALSE(frame_->sidePanel()->rangeBox(0)->isEnabled());
    // Green of row 4 is 12.
        EXPECT_EQ(qGray(frame_->view()->cachedImage().pixel(7, 4)), 12);
}

TEST_F(Workbench, BinarizationPreviewsAndCompletesOnCancel)
{
    ToGray();
    int previewValue = -1;
    AnswerModal<CBinarizeDlg>([&](CBinarizeDlg* d) {
        EXPECT_EQ(d->edit(0)->maxLength(), 3);
        EXPECT_EQ(d->scrollBar(0)->pageStep(), 10);
        d->scrollBar(0)->setValue(0);
        d->scrollBar(1)->setValue(255);
        // Brightness 20 lies strictly inside (0, 255): white in the preview.
        previewValue = qGray(frame_->view()->cachedImage().pixel(3, 4));
        d->reject();
    });
    frame_->OnCommand(kCmdBinarize);
    EXPECT_EQ(previewValue, 255);
    // Cancel still completes, with the stored thresholds: their picture
    // (128, 128: all black), not the last preview, is the binary image.
    EXPECT_EQ(doc_->state(), kStateBinary);
    EXPECT_EQ(doc_->settings().binarize.min, 128);
    EXPECT_EQ(doc_->settings().binarize.max, 128);
    EXPECT_EQ(qGray(frame_->view()->cachedImage().pixel(3, 4)), 0);
    EXPECT_TRUE(Enabled(kCmdLabel));
}

TEST_F(Workbench, BinarizationBoxesClampAndOkStores)
{
    ToGray();
    AnswerModal<CBinarizeDlg>([&](CBinarizeDlg* d) {
        d->edit(1)->setText(QStringLiteral("999"));
        FocusOut(d->edit(1));
        EXPECT_EQ(d->edit(1)->text(), QStringLiteral("255"));
        EXPECT_EQ(d->scrollBar(1)->value(), 255);
        d->edit(0)->setText(QStringLiteral("15"));
        FocusOut(d->edit(0));
        EXPECT_EQ(d->scrollBar(0)->value(), 15);
        d->accept();
    });
    frame_->OnCommand(kCmdBinarize);
    EXPECT_EQ(doc_->settings().binarize.min, 15);
    EXPECT_EQ(doc_->settings().binarize.max, 255);
}

TEST_F(Workbench, KernelSizeBoxesBecomeOdd)
{
    CKernelDlg dlg(false);
    dlg.setParams({3, 3, 0, 0});
    EXPECT_FALSE(dlg.choiceButton(0)->isVisibleTo(&dlg));
    dlg.sizeBox(0)->clear();
    QTest::keyClicks(dlg.sizeBox(0), QStringLiteral("4"));
    FocusOut(dlg.sizeBox(0));
    EXPECT_EQ(dlg.sizeBox(0)->text(), QStringLiteral("5"));
    dlg.sizeBox(1)->setText(QStringLiteral("7"));
    FocusOut(dlg.sizeBox(1));
    EXPECT_EQ(dlg.sizeBox(1)->text(), QStringLiteral("7"));
}

TEST_F(Workbench, RankDialogStaysOpenOutsideTheWindow)
{
    CKernelDlg dlg(true);
    dlg.setParams({3, 3, 4, 3});
    EXPECT_TRUE(dlg.rankBox()->isEnabled());
    EXPECT_EQ(dlg.rankBox()->text(), QStringLiteral("4"));
    dlg.show();
    dlg.rankBox()->setText(QStringLiteral("9"));
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    dlg.choiceButton(1)->click();
    EXPECT_FALSE(dlg.rankBox()->isEnabled());
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.params().rank, 8);
    EXPECT_EQ(dlg.params().choice, 1);
}

TEST_F(Workbench, InvalidKernelFileKeepsTheConvolutionDialogOpen)
{
    ToGray();
    const QImage before = frame_->view()->cachedImage();
    int opened = 0;
    QString message;
    std::vector<CConvolutionDlg*> dialogs;
    QString pathAfterMessage;
    std::function<void(CConvolutionDlg*)> answer = [&](CConvolutionDlg* d) {
        ++opened;
        dialogs.push_back(d);
        if (opened == 2)
            pathAfterMessage = d->pathBox()->text();
        if (opened == 1) {
            d->modeButton(2)->click();
            d->pathBox()->setText(QString::fromStdString(dir_ / "missing.knl"));
            AnswerModal<QMessageBox>([&](QMessageBox* box) {
                message = box->text();
                box->accept();
                AnswerModal<CConvolutionDlg>(answer);
            });
            d->accept();
        } else {
            d->reject();
        }
    };
    AnswerModal<CConvolutionDlg>(answer);
    frame_->OnCommand(kCmdConvolution);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(message, QStringLiteral("ｶｰﾈﾙ ﾌｧｲﾙが不正です"));
    // After the message the operator is back in the same dialog, the typed
    // path still there, and the refused kernel has changed nothing.
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0], dialogs[1]);
    EXPECT_EQ(pathAfterMessage, QString::fromStdString(dir_ / "missing.knl"));
    EXPECT_FALSE(doc_->undoAvailable());
    EXPECT_EQ(frame_->view()->cachedImage(), before);
}

TEST_F(Workbench, ConvolutionDialogModes)
{
    CConvolutionDlg dlg(QString::fromStdString(dir_.path()));
    std::vector<double> nine{0, -1, 0, -1, 4, -1, 0, -1, 0};
    dlg.setParams({3, 3, 3, nine, ""});
    EXPECT_EQ(dlg.cell(2, 2)->text(), QStringLiteral("4"));
    EXPECT_FALSE(dlg.cell(0, 0)->isEnabled());
    EXPECT_FALSE(dlg.pathBox()->isEnabled());
    dlg.cell(1, 3)->setText(QStringLiteral("2.5x"));
    const ConvolutionParams p = dlg.params();
    ASSERT_EQ(p.values.size(), 9u);
    EXPECT_DOUBLE_EQ(p.values[2], 2.5);
    dlg.modeButton(1)->click();
    EXPECT_TRUE(dlg.cell(0, 0)->isEnabled());
    EXPECT_EQ(dlg.params().values.size(), 25u);
}

TEST_F(Workbench, ProfileLineFillsTheResultWindow)
{
    ToGray();
    frame_->OnCommand(kCmdProfile);
    ASSERT_EQ(doc_->state(), kStateProfile);
    CProfileResultWnd* wnd = frame_->view()->profileWindow();
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(wnd->windowTitle(), QStringLiteral("濃度ﾌﾟﾛﾌｧｲﾙ結果"));
    EXPECT_EQ(wnd->list()->headerItem()->text(1), QStringLiteral("座標"));
    EXPECT_FALSE(Enabled(kCmdUndo));
    Drag({5 + 10, 5 + 20}, {5 + 13, 5 + 20});
    ASSERT_EQ(wnd->list()->topLevelItemCount(), 3);
    EXPECT_EQ(wnd->list()->topLevelItem(0)->text(1), QStringLiteral("(10, 20)"));
    // The graph is drawn: the shown picture differs from the plain plane.
    frame_->view()->SetSelectedItems({1});
    const QImage shown = frame_->view()->RenderViewport();
    EXPECT_NE(shown.pixel(5 + 11, 5 + 20 - 10), frame_->view()->cachedImage().pixel(11, 10));
    // "終了" leaves the profile through the command.
    wnd->reject();
    EXPECT_EQ(doc_->state(), kStateGray);
    QTRY_VERIFY(frame_->view()->profileWindow() == nullptr);
}

TEST_F(Workbench, LabelingResultListsObjectsAndSelectionHighlights)
{
    ToGray();
    doc_->settings().resultColor = 0x000000FF;
    AnswerModal<CBinarizeDlg>([](CBinarizeDlg* d) {
        d->scrollBar(0)->setValue(0);
        d->scrollBar(1)->setValue(255);
        d->accept();
    });
    frame_->OnCommand(kCmdBinarize);
    ASSERT_EQ(doc_->state(), kStateBinary);
    int rows = -1;
    int columns = -1;
    QRgb highlighted = 0;
    AnswerModal<CLabelingResultDlg>([&](CLabelingResultDlg* d) {
        rows = d->list()->topLevelItemCount();
        columns = d->list()->columnCount();
        if (rows > 0) {
            d->list()->topLevelItem(0)->setSelected(true);
            QTest::mouseClick(d->list()->viewport(), Qt::LeftButton, {},
                              d->list()->visualItemRect(d->list()->topLevelItem(0)).center());
            highlighted = frame_->view()->RenderViewport().pixel(5 + 3, 5 + 4);
        }
        d->accept();
    });
    frame_->OnCommand(kCmdLabel);
    EXPECT_EQ(columns, 5);
    EXPECT_GE(rows, 1);
    EXPECT_EQ(highlighted & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(doc_->state(), kStateLabeled);
    EXPECT_TRUE(frame_->view()->selectedItems().empty());
}

TEST_F(Workbench, PoolToTargetLeavesOnlyTargetAndOk)
{
    ToGray();
    doc_->PoolAdd("same");
    EXPECT_EQ(PoolSizeText(6, 2), QStringLiteral("6 × 2"));
    AnswerModal<CPoolDlg>([](CPoolDlg* d) {
        EXPECT_EQ(d->list()->topLevelItemCount(), 1);
        EXPECT_EQ(d->list()->topLevelItem(0)->text(1), QStringLiteral("320 × 240"));
        d->list()->topLevelItem(0)->setSelected(true);
        d->targetButton()->click();
        EXPECT_FALSE(d->addButton()->isEnabled());
        d->accept();
    });
    frame_->OnCommand(kCmdPool);
    EXPECT_TRUE(doc_->undoAvailable());
}

TEST_F(Workbench, FftDialogPreviewsAndWantsAMaskPathForUserShape)
{
    ToGray();
    QString minText, maxText;
    bool stayedOpen = false;
    AnswerModal<CFftDlg>([&](CFftDlg* d) {
        minText = d->edit(0)->text();
        maxText = d->edit(1)->text();
        d->scrollBar(0)->setValue(10);
        EXPECT_EQ(d->edit(0)->text(), QStringLiteral("0.10"));
        EXPECT_EQ(d->edit(0)->maxLength(), 4);
        d->shapeButton(2)->click();
        EXPECT_FALSE(d->scrollBar(0)->isEnabled());
        EXPECT_TRUE(d->pathBox()->isEnabled());
        d->accept();  // shape 2 without a path: stays open
        stayedOpen = d->isVisible();
        d->shapeButton(1)->click();
        d->accept();
    });
    frame_->OnCommand(kCmdFft);
    EXPECT_EQ(minText, QStringLiteral("0.00"));
    EXPECT_EQ(maxText, QStringLiteral("1.00"));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(doc_->state(), kStateGray);
    EXPECT_DOUBLE_EQ(doc_->settings().fft.low, 0.10);
    EXPECT_EQ(doc_->settings().fft.shape, 1);
    EXPECT_TRUE(Enabled(kCmdUndo));
}

TEST_F(Workbench, FftRefusedThreadCountIsReported)
{
    ToGray();
    doc_->settings().fftThreads = 0;
    QString message;
    AnswerModal<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    frame_->OnCommand(kCmdFft);
    EXPECT_EQ(message, QStringLiteral("ｽﾚｯﾄﾞの生成数が上限を超えています"));
}

TEST_F(Workbench, UndoAndRedoFromTheMenu)
{
    ToGray();
    frame_->OnCommand(kCmdSobel);
    ASSERT_TRUE(Enabled(kCmdUndo));
    const QImage after = frame_->view()->cachedImage();
    frame_->OnCommand(kCmdUndo);
    EXPECT_TRUE(Enabled(kCmdRedo));
    EXPECT_NE(frame_->view()->cachedImage(), after);
    frame_->OnCommand(kCmdRedo);
    EXPECT_EQ(frame_->view()->cachedImage(), after);
}

}  // namespace
}  // namespace lumadrift
