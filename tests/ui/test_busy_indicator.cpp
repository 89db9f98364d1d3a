// The wait cursor and the status bar's progress bar of long operations: they
// show only while an operation runs past the delay, never over a modal
// window, and always go at its end. The delay is set to 0 (or to an hour),
// so nothing here depends on the machine's speed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QtTest/QTest>
#include <functional>
#include <stdexcept>

#include "commands/lumadrift_doc.h"
#include "core/parallel.h"
#include "core/work_progress.h"
#include "support/test_support.h"
#include "ui/busy_indicator.h"
#include "ui/dialogs.h"
#include "ui/gui_support.h"
#include "ui/window_fixture.h"
#include "ui/main_frame.h"

namespace lumadrift {
namespace {

using test::AnswerModal;

bool WaitCursorOn()
{
    const QCursor* c = QGuiApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
}

class Busy : public test::MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenWindow());
        busy()->setDelay(0);
        // One thread going band by band: every filter ticks after each row,
        // however the pool's threads would have shared the bands.
        SetParallelThreads(1);
        SetParallelBandRows(1);
        // What the window showed while the operation ran, seen from the
        // status bar's own signal.
        QObject::connect(frame_->statusBar(), &QStatusBar::messageChanged, [this](const QString& m) {
            if (m == CBusyIndicator::busyText()) {
                ++shows_;
                cursorWhenShown_ = WaitCursorOn();
            }
        });
        QObject::connect(busy()->progressBar(), &QProgressBar::valueChanged,
                         [this](int) { countedTo_ = busy()->progressBar()->maximum(); });
    }
    void TearDown() override
    {
        SetParallelThreads(0);
        SetParallelBandRows(0);
        MainWindowTest::TearDown();
    }
    CBusyIndicator* busy() { return frame_->busyIndicator(); }
    void ExpectIdle()
    {
        EXPECT_FALSE(busy()->shown());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(busy()->progressBar()->isVisible());
        EXPECT_EQ(frame_->statusBar()->currentMessage(), QStringLiteral("ﾚﾃﾞｨ"));
    }
    void ExpectShown()
    {
        EXPECT_TRUE(busy()->shown());
        EXPECT_TRUE(WaitCursorOn());
        EXPECT_TRUE(busy()->progressBar()->isVisible());
        EXPECT_EQ(frame_->statusBar()->currentMessage(), CBusyIndicator::busyText());
    }
    void ToGray()
    {
        const std::string picture = dir_ / "pic.bmp";
        test::WriteBytes(picture, test::ColorPicture(64, 48, [](int x, int y) { return qRgb(4 * x, 5 * y, 9); }));
        ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(picture)));
        doc_->setRange({0, 0, 63, 47});
        ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(3, 0, 0.0)), 0);
    }

    int shows_ = 0;
    bool cursorWhenShown_ = false;
    int countedTo_ = -1;
};

TEST_F(Busy, ShownPastTheDelayAndGoneHoweverTheOperationEnds)
{
    enum class End { kReturn, kThrow, kMessageBoxThenMore, kNotLongEnough };
    struct Row {
        const char* name;
        End end;
    };
    const Row rows[] = {{"return", End::kReturn},
                        {"exception", End::kThrow},
                        {"message box", End::kMessageBoxThenMore},
                        {"shorter than the delay", End::kNotLongEnough}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        busy()->setDelay(r.end == End::kNotLongEnough ? 3600 * 1000 : 0);
        try {
            WorkScope work;
            ExpectIdle();  // nothing before the first tick
            WorkTick();
            if (r.end == End::kNotLongEnough) {
                ExpectIdle();
                continue;
            }
            ExpectShown();
            EXPECT_EQ(busy()->progressBar()->maximum(), 0);  // no count: the busy bar
            WorkTick(3, 10);
            EXPECT_EQ(busy()->progressBar()->maximum(), 10);
            EXPECT_EQ(busy()->progressBar()->value(), 3);
            if (r.end == End::kThrow)
                throw std::runtime_error("refused");
            if (r.end == End::kMessageBoxThenMore) {
                bool normalCursorOverBox = false;
                AnswerModal<QMessageBox>([&](QMessageBox* box) {
                    normalCursorOverBox = QGuiApplication::overrideCursor() == nullptr && !busy()->shown();
                    WorkTick();  // the operator reading is not the program busy
                    normalCursorOverBox = normalCursorOverBox && !busy()->shown();
                    box->accept();
                });
                QMessageBox::warning(frame_.get(), QStringLiteral("Lumadrift"), QStringLiteral("x"));
                EXPECT_TRUE(normalCursorOverBox);
                WorkTick();  // the clock runs again once the box is gone
                ExpectShown();
            }
        } catch (const std::runtime_error&) {
        }
        ExpectIdle();
    }
}

TEST_F(Busy, RealCommandsShowItWhileTheyRunAndRestoreTheCursor)
{
    ToGray();
    const std::string macro = dir_ / "three.flt";
    ASSERT_TRUE(doc_->StartRecording(macro));
    for (int i = 0; i < 3; ++i)
        frame_->OnCommand(kCmdSmooth);
    doc_->StopRecording();
    struct Row {
        const char* name;
        std::function<void()> run;
        int countedTo;  // -1: no count
    };
    const Row rows[] = {
        {"filter from the menu", [&] { frame_->OnCommand(kCmdSharpen); }, -1},
        {"macro replay counts its entries", [&] { frame_->RunMacroFile(QString::fromStdString(macro)); }, 3},
        {"binarization dialog: only its previews, never over the dialog",
         [&] {
             AnswerModal<CBinarizeDlg>([&](CBinarizeDlg* d) {
                 const int before = shows_;
                 d->scrollBar(0)->setValue(40);
                 EXPECT_GT(shows_, before);  // the preview ran long enough
                 EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
                 d->accept();
             });
             frame_->OnCommand(kCmdBinarize);
         },
         -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        shows_ = 0;
        cursorWhenShown_ = false;
        countedTo_ = -1;
        r.run();
        EXPECT_GT(shows_, 0);
        EXPECT_TRUE(cursorWhenShown_);
        EXPECT_EQ(countedTo_, r.countedTo);
        ExpectIdle();
    }
}

}  // namespace
}  // namespace lumadrift
