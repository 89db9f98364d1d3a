// The histogram dialogs, the history panel and the desktop habits of the
// window (drops, Ctrl + wheel, middle-button drag, Ctrl+0, save formats),
// driven through the real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <functional>

#include "commands/lumadrift_doc.h"
#include "core/cp932.h"
#include "core/picture_file.h"
#include "support/test_support.h"
#include "ui/gui_support.h"
#include "ui/window_fixture.h"
#include "ui/desktop_habits.h"
#include "ui/dialogs.h"
#include "ui/history_panel.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"

namespace lumadrift {
namespace {

using test::AnswerModal;

// 640 x 320 gray picture: rows 0..99 are 10, 100..159 are 100, the rest 200.
constexpr int kW = 640, kH = 320;
GrayHistogram PictureHistogram()
{
    GrayHistogram h{};
    h[10] = 64000;
    h[100] = 38400;
    h[200] = 102400;
    return h;
}

class Habits : public test::MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenWindow(700, 500));
        std::vector<uint8_t> plane(kW * kH, 200);
        std::fill(plane.begin(), plane.begin() + 100 * kW, 10);
        std::fill(plane.begin() + 100 * kW, plane.begin() + 160 * kW, 100);
        picture_ = dir_ / "gray.bmp";
        ASSERT_EQ(WriteGrayPicture(picture_, plane.data(), kW, kH), 0);
    }

    void Open() { ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(picture_))); }
    void ToGray()
    {
        Open();
        frame_->OnCommand(kCmdRange);
        doc_->setRange({0, 0, kW - 1, kH - 1});
        ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(0, 0, 0.0)), 0);
        frame_->UpdateActions();
    }
    QWidget* viewport() { return frame_->view()->viewport(); }
    CHistoryPanel* history() { return frame_->findChild<CHistoryPanel*>(); }
    QStringList HistoryRows()
    {
        QStringList rows;
        for (int i = 0; i < history()->list()->count(); ++i)
            rows << history()->list()->item(i)->text();
        return rows;
    }
    void Wheel(QPoint at, int delta, Qt::KeyboardModifiers mods = Qt::ControlModifier)
    {
        QWheelEvent e(at, viewport()->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, mods,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport(), &e);
    }
    void Drop(const std::string& path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter({10, 10}, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(frame_.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(frame_.get(), &drop);
        ASSERT_TRUE(drop.isAccepted());
    }

    std::string picture_;
};

// --- binarization --------------------------------------------------------------

TEST_F(Habits, BinarizationHistogramIsTheSourceAndFollowsTheThresholds)
{
    ToGray();
    GrayHistogram shown{};
    int markers[4] = {};
    double linear = 0, logarithmic = 0;
    AnswerModal<CBinarizeDlg>([&](CBinarizeDlg* d) {
        CHistogramWidget* h = d->thresholdPanel()->histogramWidget();
        // The plane the dialog opened on, not the binarized preview over it.
        shown = h->histogram();
        d->scrollBar(0)->setValue(40);
        d->edit(1)->setText(QStringLiteral("300"));
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(d->edit(1), &out);
        markers[0] = h->minValue();
        markers[1] = h->maxValue();
        // Dragging from near MIN carries MIN along; the preview follows.
        QTest::mousePress(h, Qt::LeftButton, {}, {h->XOf(35), h->height() / 2});
        QTest::mouseMove(h, {h->XOf(150), h->height() / 2});
        QTest::mouseRelease(h, Qt::LeftButton, {}, {h->XOf(150), h->height() / 2});
        markers[2] = d->minValue();
        markers[3] = d->maxValue();
        linear = h->BarFraction(100);
        d->thresholdPanel()->logBox()->click();
        logarithmic = h->BarFraction(100);
        d->accept();
    });
    frame_->OnCommand(kCmdBinarize);
    EXPECT_EQ(shown, PictureHistogram());
    EXPECT_EQ(markers[0], 40);
    EXPECT_EQ(markers[1], 255);
    EXPECT_EQ(markers[2], 150);
    EXPECT_EQ(markers[3], 255);
    EXPECT_DOUBLE_EQ(linear, 38400.0 / 102400.0);
    EXPECT_DOUBLE_EQ(logarithmic, std::log1p(38400.0) / std::log1p(102400.0));
    // Levels 10 and 100 lie below the dragged MIN: black; 200 is white.
    EXPECT_EQ(doc_->settings().binarize.min, 150);
    EXPECT_EQ(qGray(frame_->view()->cachedImage().pixel(0, 120)), 0);
    EXPECT_EQ(qGray(frame_->view()->cachedImage().pixel(0, 200)), 255);
}

TEST(ThresholdHistogram, ClickMovesTheNearerThreshold)
{
    struct Row {
        int min, max, click, wantMin, wantMax;
    };
    const Row rows[] = {
        {40, 200, 100, 100, 200},   // nearer MIN
        {40, 200, 150, 40, 150},    // nearer MAX
        {128, 128, 100, 100, 128},  // a tie at or below MIN takes MIN
        {128, 128, 130, 128, 130},  // above it MAX
        {200, 50, 190, 190, 50},    // MIN above MAX
        {10, 20, 255, 10, 255},     // the last column
        {10, 20, 0, 0, 20},         // the first column
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.click);
        CBinarizeDlg dlg({r.min, r.max});
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QSignalSpy changed(&dlg, &CBinarizeDlg::paramsChanged);
        CHistogramWidget* h = dlg.thresholdPanel()->histogramWidget();
        ASSERT_EQ(h->ValueAt(h->XOf(r.click)), r.click);
        QTest::mouseClick(h, Qt::LeftButton, {}, {h->XOf(r.click), 5});
        EXPECT_EQ(dlg.minValue(), r.wantMin);
        EXPECT_EQ(dlg.maxValue(), r.wantMax);
        EXPECT_EQ(dlg.edit(0)->text(), QString::number(r.wantMin));
        EXPECT_EQ(dlg.scrollBar(1)->value(), r.wantMax);
        EXPECT_EQ(changed.count(), 1);
    }
}

TEST(ThresholdHistogram, MethodButtonsSetMinAndKeepMax)
{
    // Two unequal humps with a long upper tail, where the five methods part.
    GrayHistogram skewed{};
    for (int v = 0; v < 256; ++v)
        skewed[v] = static_cast<uint64_t>(std::lround(
            1000.0 * std::exp(-(v - 50) * (v - 50) / 200.0) +
            600.0 * std::exp(-(v - 150) * (v - 150) / 3000.0) + (v > 150 ? 60 : 0)));
    GrayHistogram empty{};
    struct Row {
        const GrayHistogram* h;
        int button;
        int wantMin;
    };
    const Row rows[] = {
        // Otsu, Triangle, IsoData, Li, mean (the methods' own tests hold them
        // against the reference implementation).
        {&skewed, 0, 115}, {&skewed, 1, 76}, {&skewed, 2, 114}, {&skewed, 3, 99}, {&skewed, 4, 125},
        {&empty, 0, 200},  // no pixels, no suggestion: MIN stays
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.button);
        CBinarizeDlg dlg({200, 230});
        dlg.setHistogram(*r.h);
        QSignalSpy changed(&dlg, &CBinarizeDlg::paramsChanged);
        dlg.thresholdPanel()->methodButton(r.button)->click();
        EXPECT_EQ(dlg.minValue(), r.wantMin);
        EXPECT_EQ(dlg.edit(0)->text(), QString::number(r.wantMin));
        EXPECT_EQ(dlg.thresholdPanel()->histogramWidget()->minValue(), r.wantMin);
        EXPECT_EQ(dlg.maxValue(), 230);
        EXPECT_EQ(changed.count(), r.wantMin == 200 ? 0 : 1);
    }
}

// Enter in a MIN or MAX box reaches OK with the focus still in the box: the
// typed value must be taken, and previewed, as leaving the box would.
TEST(ThresholdBoxes, EnterTakesTheTypedValueBeforeOk)
{
    struct Row {
        bool fft;
        int box;
        const char* typed;
        double want;
        const char* shown;
    };
    const Row rows[] = {
        {false, 0, "42", 42, "42"},     {false, 1, "999", 255, "255"},
        {false, 1, "7x", 7, "7x"},      {false, 0, "", 0, "0"},
        {true, 0, "0.25", 0.25, "0.25"}, {true, 1, "3", 1.0, "1.00"},
        {true, 0, "abc", 0.0, "0.00"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.fft ? "FFT " : "2値化 ") << r.box << " " << r.typed);
        double previewed[2] = {-1, -1};
        std::unique_ptr<QDialog> dlg;
        QLineEdit* box = nullptr;
        std::function<double(int)> value;
        if (r.fft) {
            auto* d = new CFftDlg(QString(), nullptr, nullptr);
            dlg.reset(d);
            d->setParams({0.1, 0.9, 0, {}});
            QObject::connect(d, &CFftDlg::paramsChanged, [&](double lo, double hi, int) {
                previewed[0] = lo;
                previewed[1] = hi;
            });
            box = d->edit(r.box);
            value = [d](int i) { return i == 0 ? d->minValue() : d->maxValue(); };
        } else {
            auto* d = new CBinarizeDlg({10, 200});
            dlg.reset(d);
            QObject::connect(d, &CBinarizeDlg::paramsChanged, [&](int lo, int hi) {
                previewed[0] = lo;
                previewed[1] = hi;
            });
            box = d->edit(r.box);
            value = [d](int i) { return i == 0 ? d->minValue() : d->maxValue(); };
        }
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        box->setFocus();
        box->setText(QString::fromUtf8(r.typed));
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        EXPECT_DOUBLE_EQ(value(r.box), r.want);
        EXPECT_DOUBLE_EQ(previewed[r.box], r.want);
        EXPECT_EQ(box->text(), QString::fromUtf8(r.shown));
    }
}

// --- density conversion -----------------------------------------------------------

TEST_F(Habits, DensityDialogShowsTheHistogramAfterTheTypedValue)
{
    ToGray();
    struct Row {
        int command;
        const char* text;
        std::vector<std::pair<int, uint64_t>> after;  // every non-empty bin
    };
    const Row rows[] = {
        {kCmdContrast, "2.0", {{20, 64000}, {200, 38400}, {255, 102400}}},
        {kCmdContrast, "0", {{0, 204800}}},
        {kCmdGamma, "2.0", {{50, 64000}, {159, 38400}, {225, 102400}}},
        {kCmdGamma, "1.0", {{10, 64000}, {100, 38400}, {200, 102400}}},
        {kCmdGamma, "0", {}},  // refused: nothing would be written
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        GrayHistogram before{}, after{};
        AnswerModal<CDensityDlg>([&](CDensityDlg* d) {
            before = d->histograms()->before()->histogram();
            d->valueBox()->setText(QString::fromUtf8(r.text));
            after = d->histograms()->after()->histogram();
            d->reject();
        });
        frame_->OnCommand(r.command);
        EXPECT_EQ(before, PictureHistogram());
        GrayHistogram want{};
        for (const auto& [v, n] : r.after)
            want[v] = n;
        EXPECT_EQ(after, want);
    }
}

// --- history ----------------------------------------------------------------------

TEST_F(Habits, HistoryPanelFollowsTheHistoryAndWalksToAStep)
{
    ASSERT_NE(history(), nullptr);
    EXPECT_EQ(frame_->findChild<QDockWidget*>(QStringLiteral("historyPanel"))->windowTitle(),
              QStringLiteral("履歴"));
    ToGray();
    ASSERT_EQ(HistoryRows().size(), 1);
    EXPECT_TRUE(HistoryRows()[0].startsWith(QStringLiteral("▶ 画像処理範囲取得 ")));
    frame_->OnCommand(kCmdSobel);
    doc_->Binarize({10, 200});
    doc_->DilateImage();
    EXPECT_EQ(HistoryRows().mid(1), (QStringList{QStringLiteral("　 Solbel"),
                                                  QStringLiteral("　 2値化 最小値=10 最大値=200"),
                                                  QStringLiteral("▶ 膨張")}));
    const std::string macro = dir_ / "walk.flt";
    ASSERT_TRUE(doc_->StartRecording(macro));
    // Back to the Sobel step and forward again: one undo or redo per step.
    QListWidget* list = history()->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(doc_->history().position(), 2);
    EXPECT_EQ(doc_->state(), kStateGray);
    EXPECT_EQ(history()->currentRow(), 1);
    EXPECT_TRUE(HistoryRows()[1].startsWith(QStringLiteral("▶ ")));
    EXPECT_TRUE(HistoryRows()[3].startsWith(QStringLiteral("　 ")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(3)).center());
    EXPECT_EQ(doc_->history().position(), 4);
    EXPECT_EQ(doc_->state(), kStateBinary);
    doc_->StopRecording();
    EXPECT_EQ(Cp932ToUtf8(test::ReadText(macro)),
              "61 元に戻す\r\n61 元に戻す\r\n62 やり直し\r\n62 やり直し\r\n");
    // Two more steps: the oldest goes, and every row keeps its own text.
    doc_->ErodeImage();
    doc_->ThinImage();
    EXPECT_EQ(HistoryRows(), (QStringList{QStringLiteral("　 Solbel"),
                                          QStringLiteral("　 2値化 最小値=10 最大値=200"),
                                          QStringLiteral("　 膨張"), QStringLiteral("　 収縮"),
                                          QStringLiteral("▶ 細線化")}));
    // While the profile is shown there is no redo: a click changes nothing.
    for (int i = 0; i < 4; ++i)
        doc_->Undo();
    ASSERT_EQ(doc_->state(), kStateGray);
    frame_->OnCommand(kCmdProfile);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
    EXPECT_EQ(doc_->history().position(), 1);
    EXPECT_EQ(list->currentRow(), 0);
    frame_->OnCommand(kCmdProfile);
    // Acquisition starts the history afresh; opening a picture empties it.
    ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(1, 0, 0.0)), 0);
    EXPECT_EQ(HistoryRows().size(), 1);
    Open();
    EXPECT_TRUE(HistoryRows().isEmpty());
}

// --- desktop habits ----------------------------------------------------------------

TEST_F(Habits, DroppedPictureOpensAndDroppedFilterFileAsksFirst)
{
    Drop(picture_);
    QTRY_COMPARE(doc_->state(), static_cast<int>(kStateColor));
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("gray.bmp - Lumadrift"));
    // A macro that opens the picture, dropped on an empty window.
    const std::string macro = dir_ / "open.flt";
    ASSERT_TRUE(doc_->StartRecording(macro));
    Open();
    doc_->StopRecording();
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        doc_->ReleaseImage();
        QString asked;
        bool answered = false;
        AnswerModal<QMessageBox>([&, answer](QMessageBox* box) {
            asked = box->text();
            answered = true;
            box->button(answer)->click();
        });
        Drop(macro);
        QTRY_VERIFY(answered);
        EXPECT_EQ(asked, QStringLiteral("open.flt をﾏｸﾛとして実行しますか?"));
        QTRY_COMPARE(doc_->state(), answer == QMessageBox::Yes ? static_cast<int>(kStateColor)
                                                               : static_cast<int>(kStateNoImage));
    }
}

TEST_F(Habits, CtrlWheelStepsThroughTheZoomBoxAboutThePointer)
{
    Open();
    struct Row {
        int from;
        std::vector<int> deltas;
        int want;
        int boxEntries;
    };
    const Row rows[] = {
        {100, {120}, 150, 6},      {100, {-120}, 75, 6},    {200, {120}, 200, 6},
        {25, {-120}, 25, 6},       {100, {240}, 200, 6},    {100, {60, 60}, 150, 6},
        {100, {60}, 100, 6},       {120, {120}, 150, 6},    {120, {-120}, 100, 6},
        {130, {}, 130, 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.from);
        doc_->setZoom(r.from);  // as the zoom dialog sets it: a custom value adds its entry
        for (int d : r.deltas)
            Wheel({30, 30}, d);
        EXPECT_EQ(doc_->zoom(), r.want);
        EXPECT_EQ(frame_->zoomBox()->count(), r.boxEntries);
        EXPECT_EQ(frame_->zoomBox()->currentText(), QStringLiteral("%1%").arg(r.want));
        Wheel({30, 30}, -120 * 10);  // back to 25 % for a clean wheel count
    }
    // About the pointer: image point (40, 20) stays under (45, 25) + scroll.
    doc_->setZoom(100);
    frame_->view()->horizontalScrollBar()->setValue(0);
    frame_->view()->verticalScrollBar()->setValue(0);
    Wheel({45, 25}, 240);
    ASSERT_EQ(doc_->zoom(), 200);
    EXPECT_EQ(frame_->view()->horizontalScrollBar()->value(), 40);
    EXPECT_EQ(frame_->view()->verticalScrollBar()->value(), 20);
    // Without Ctrl the wheel scrolls and the zoom stays.
    Wheel({45, 25}, -120, Qt::NoModifier);
    EXPECT_EQ(doc_->zoom(), 200);
    EXPECT_GT(frame_->view()->verticalScrollBar()->value(), 20);
}

TEST_F(Habits, MiddleButtonDragsTheViewAndCtrlZeroReturnsTo100)
{
    Open();
    frame_->OnCommand(kCmdRange);
    doc_->setRange({2, 2, 9, 9});
    const ProcessingRange range = doc_->range();
    doc_->setZoom(200);
    QScrollBar* h = frame_->view()->horizontalScrollBar();
    QScrollBar* v = frame_->view()->verticalScrollBar();
    h->setValue(100);
    v->setValue(100);
    QTest::mousePress(viewport(), Qt::MiddleButton, {}, {200, 150});
    QTest::mouseMove(viewport(), {150, 120});
    QTest::mouseRelease(viewport(), Qt::MiddleButton, {}, {150, 120});
    EXPECT_EQ(h->value(), 150);
    EXPECT_EQ(v->value(), 130);
    // The picture moved; the range did not.
    EXPECT_EQ(doc_->range(), range);
    EXPECT_EQ(frame_->view()->dragState(), 0);
    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    QTest::keyClick(frame_.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(doc_->zoom(), 100);
    EXPECT_EQ(frame_->zoomBox()->currentIndex(), 2);
    EXPECT_EQ(frame_->zoomBox()->count(), 6);
}

TEST_F(Habits, SaveDialogsOfferThePictureFormats)
{
    ToGray();
    doc_->PoolAdd("pooled");
    struct Row {
        bool pool;
        int filterDown;  // Down presses in the file-type box from BMP
        const char* name;
        const char* suffix;
        std::string magic;
    };
    const Row rows[] = {
        {false, 2, "saved", "tif", std::string("II*\0", 4)},
        {false, 0, "plain", "bmp", "BM"},
        {true, 1, "pool", "png", "\x89PNG"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QStringList filters;
        auto answerFile = [&](QFileDialog* d) {
            filters = d->nameFilters();
            d->setDirectory(QString::fromStdString(dir_.path()));
            auto* types = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_NE(types, nullptr);
            for (int i = 0; i < r.filterDown; ++i)
                QTest::keyClick(types, Qt::Key_Down);
            EXPECT_EQ(d->defaultSuffix(), QString::fromUtf8(r.suffix));
            d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromUtf8(r.name));
            static_cast<QDialog*>(d)->accept();
        };
        if (r.pool) {
            AnswerModal<CPoolDlg>([&](CPoolDlg* p) {
                p->list()->topLevelItem(0)->setSelected(true);
                AnswerModal<QFileDialog>(answerFile);
                p->saveButton()->click();
                p->accept();
            });
            frame_->OnCommand(kCmdPool);
        } else {
            AnswerModal<QFileDialog>(answerFile);
            frame_->OnCommand(kCmdSaveAs);
        }
        EXPECT_EQ(filters.join(QStringLiteral(";;")), QString::fromUtf8(kSavePictureFilter));
        const std::vector<uint8_t> bytes = test::ReadBytes(dir_ / (std::string(r.name) + "." + r.suffix));
        ASSERT_GE(bytes.size(), r.magic.size());
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(r.magic.size())), r.magic);
    }
}

TEST(SaveFilters, SuffixOfTheChosenFilter)
{
    EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("PNG Files (*.png)")), QStringLiteral("png"));
    EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("TIFF Files (*.tif *.tiff)")), QStringLiteral("tif"));
    EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("All Files (*)")), QString());
}

}  // namespace
}  // namespace lumadrift
