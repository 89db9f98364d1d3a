// The camera: the test-pattern source, the system-camera source's pieces
// that need no device, and the preview driven through the window as the
// operator (or a replayed macro) drives it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCameraDevice>
#include <QMediaDevices>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QtTest/QTest>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "camera/capture_source.h"
#include "camera/qt_camera_source.h"
#include "camera/synthetic_source.h"
#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/replay.h"
#include "core/acquisition.h"
#include "support/test_support.h"
#include "ui/gui_support.h"
#include "ui/lumadrift_view.h"
#include "ui/main_frame.h"
#include "ui/side_panel.h"

namespace lumadrift {
namespace {

// Pixel (x, y) of a blue-green-red buffer as red, green, blue.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb PatternAt(int frame, int w, int h, int x, int y)
{
    int stride = 0;
    const std::vector<uint8_t> p = SyntheticSource::Pattern(frame, w, h, &stride);
    const uint8_t* q = p.data() + static_cast<size_t>(y) * stride + 3 * x;
    return {q[2], q[1], q[0]};
}

// --- the test pattern -------------------------------------------------------

struct Delivered {
    int frames = 0;
    int width = 0, height = 0, stride = 0;
    std::vector<uint8_t> last;
};

void Collect(SyntheticSource& src, Delivered& d)
{
    src.SetFrameCallback([&d](const CameraFrame& f) {
        ++d.frames;
        d.width = f.width;
        d.height = f.height;
        d.stride = f.stride;
        d.last.assign(f.bgr, f.bgr + static_cast<size_t>(f.stride) * f.height);
    });
}

struct SizeCase {
    int width, height;
    bool accepted;
};

class SyntheticSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SyntheticSize, HonoursOrRefusesTheRequestedSize)
{
    const SizeCase c = GetParam();
    SyntheticSource src(0);
    Delivered d;
    Collect(src, d);
    const CaptureSource::StartResult r = src.Start(c.width, c.height);
    EXPECT_EQ(r.ok, c.accepted);
    EXPECT_EQ(src.IsActive(), c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(r.message, CameraSizeInvalidText(c.width, c.height));
        EXPECT_EQ(d.frames, 0);
        return;
    }
    // The first frame is there before Start returns.
    ASSERT_EQ(d.frames, 1);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_GE(d.stride, 3 * c.width);
    EXPECT_EQ(d.stride % 4, 0);
}

INSTANTIATE_TEST_SUITE_P(Camera, SyntheticSize,
                         ::testing::Values(SizeCase{640, 480, true}, SizeCase{1, 1, true},
                                           SizeCase{5, 3, true},  // rows need padding
                                           SizeCase{4096, 1, true}, SizeCase{0, 480, false},
                                           SizeCase{640, -1, false}, SizeCase{4097, 10, false}));

TEST(Camera, SizeTextCarriesTheConfiguredValues)
{
    EXPECT_EQ(CameraSizeInvalidText(0, 480), "指定のｷｬﾌﾟﾁｬｰｻｲｽﾞが無効です\r\n(width=0, height=480)");
    EXPECT_EQ(CameraSizeInvalidText(-3, 12345),
              "指定のｷｬﾌﾟﾁｬｰｻｲｽﾞが無効です\r\n(width=-3, height=12345)");
}

TEST(Camera, PatternMovesAndStopsAtStop)
{
    SyntheticSource src(0);
    Delivered d;
    Collect(src, d);
    ASSERT_TRUE(src.Start(41, 8).ok);
    const std::vector<uint8_t> first = d.last;
    src.Tick();
    EXPECT_EQ(d.frames, 2);
    EXPECT_EQ(src.framesDelivered(), 2);
    // Every pixel changes from one frame to the next (the blue ramp drifts).
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 41; ++x)
            EXPECT_NE(first[static_cast<size_t>(y) * d.stride + 3 * x],
                      d.last[static_cast<size_t>(y) * d.stride + 3 * x]);
    int stride = 0;
    EXPECT_EQ(d.last, SyntheticSource::Pattern(1, 41, 8, &stride));
    // 41 pixels need a padded row; the padding is zero, so a stride mistake
    // shows up as black.
    EXPECT_EQ(stride, 124);
    EXPECT_EQ(d.last[3 * 41], 0);
    src.Stop();
    src.Tick();
    EXPECT_EQ(d.frames, 2);
    // A restart begins again at frame 0.
    ASSERT_TRUE(src.Start(41, 8).ok);
    EXPECT_EQ(d.last, first);
}

TEST(Camera, TimerDeliversFramesAtTheDefaultInterval)
{
    SyntheticSource src;
    EXPECT_EQ(src.intervalMs(), 33);
    Delivered d;
    Collect(src, d);
    ASSERT_TRUE(src.Start(8, 8).ok);
    QTRY_VERIFY_WITH_TIMEOUT(d.frames >= 3, 10000);
    src.Stop();
    const int seen = d.frames;
    QTest::qWait(100);
    EXPECT_EQ(d.frames, seen);
}

TEST(Camera, EnvironmentChoosesTheSource)
{
    qputenv("LUMADRIFT_CAMERA", "synthetic");
    std::unique_ptr<CaptureSource> s = MakeCaptureSource();
    EXPECT_NE(dynamic_cast<SyntheticSource*>(s.get()), nullptr);
    qputenv("LUMADRIFT_CAMERA", "other");
    s = MakeCaptureSource();
    EXPECT_NE(dynamic_cast<QtCameraSource*>(s.get()), nullptr);
    qunsetenv("LUMADRIFT_CAMERA");
    s = MakeCaptureSource();
    EXPECT_NE(dynamic_cast<QtCameraSource*>(s.get()), nullptr);
}

// --- the system camera's pieces -------------------------------------------

struct ModeCase {
    const char* name;
    std::vector<CameraMode> modes;
    int width, height;
    int expected;
};

class ModeChoice : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeChoice, OnlyTheExactSizeFastestFirst)
{
    const ModeCase& c = GetParam();
    EXPECT_EQ(ChooseCameraMode(c.modes, c.width, c.height), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Camera, ModeChoice,
    ::testing::Values(
        ModeCase{"none", {}, 640, 480, -1},
        ModeCase{"exact", {{320, 240, 30}, {640, 480, 30}, {1280, 720, 30}}, 640, 480, 1},
        ModeCase{"fastest of equal sizes", {{640, 480, 15}, {640, 480, 30}, {640, 480, 25}}, 640,
                 480, 1},
        ModeCase{"first of equal rates", {{640, 480, 30}, {640, 480, 30}}, 640, 480, 0},
        // Neither a larger nor a transposed size stands in for the request.
        ModeCase{"only larger", {{800, 600, 30}, {480, 640, 30}}, 640, 480, -1},
        ModeCase{"width matches only", {{640, 360, 30}}, 640, 480, -1}),
    [](const ::testing::TestParamInfo<ModeCase>& i) { return "case" + std::to_string(i.index); });

TEST(Camera, VideoFrameBecomesBlueGreenRedRows)
{
    // Two pixels wide on purpose: a swapped red and blue, or a lost row
    // stride, changes the bytes below.
    QVideoFrame frame(QVideoFrameFormat(QSize(2, 2), QVideoFrameFormat::Format_RGBX8888));
    ASSERT_TRUE(frame.map(QVideoFrame::WriteOnly));
    const uint8_t rgbx[2][8] = {{10, 20, 30, 255, 40, 50, 60, 255},
                                {70, 80, 90, 255, 100, 110, 120, 255}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), rgbx[y], 8);
    frame.unmap();
    const QImage bgr = VideoFrameToBgr(frame);
    ASSERT_EQ(bgr.format(), QImage::Format_BGR888);
    ASSERT_EQ(bgr.size(), QSize(2, 2));
    const uint8_t want[2][6] = {{30, 20, 10, 60, 50, 40}, {90, 80, 70, 120, 110, 100}};
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(std::memcmp(bgr.constScanLine(y), want[y], 6), 0) << "row " << y;
    EXPECT_TRUE(VideoFrameToBgr(QVideoFrame()).isNull());
}

// --- the preview through the window ------------------------------------------

// Answers the next message box from the event loop, keeping its text, icon
// and title.
struct Answered {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
};

void AnswerMessages(Answered& a, QObject* owner)
{
    auto* poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, [&a] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            a.text = box->text();
            a.title = box->windowTitle();
            a.icon = box->icon();
            ++a.count;
            box->accept();
        }
    });
    poll->start(5);
}

// A source whose frames the doc refuses (the row stride is too short).
class BrokenFrameSource : public CaptureSource {
public:
    StartResult Start(int width, int height) override
    {
        active_ = true;
        const std::vector<uint8_t> row(static_cast<size_t>(width) * 3, 0);
        DeliverFrame({row.data(), width, height, 1});
        return {true, {}};
    }
    void Stop() override { active_ = false; }
    bool IsActive() const override { return active_; }

private:
    bool active_ = false;
};

class CameraWindow : public ::testing::Test {
protected:
    static constexpr int kW = 64;
    static constexpr int kH = 48;

    void SetUp() override
    {
        test::KeepSettingsIn(dir_.path());
        env_.layoutState = -1;
        doc_ = std::make_unique<CLumadriftDoc>(env_);
        doc_->settings().cameraUse = 1;
        doc_->settings().cameraWidth = kW;
        doc_->settings().cameraHeight = kH;
        placement_.layoutState = 0;
        placement_.width = 700;
        placement_.height = 500;
        frame_ = std::make_unique<CMainFrame>(*doc_, placement_);
        view()->SetCaptureSourceFactory([this] {
            auto s = std::make_unique<SyntheticSource>(0);  // frames only from Tick()
            source_ = s.get();
            ++made_;
            return s;
        });
        frame_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
        frame_->UpdateActions();
    }
    void TearDown() override
    {
        frame_.reset();
        doc_.reset();
    }

    CLumadriftView* view() { return frame_->view(); }
    QAction* action(int id) { return frame_->action(id); }
    void Press(int id)
    {
        // As from the menu: through the action, so disabled commands do nothing.
        frame_->UpdateActions();
        action(id)->trigger();
    }
    // The colour the view paints at image pixel (x, y), zoom 100.
    Rgb Shown(int x, int y)
    {
        const QImage shot = view()->RenderViewport();
        const QRgb c = shot.pixel(kViewMargin + x, kViewMargin + y);
        return {qRed(c), qGreen(c), qBlue(c)};
    }
    Rgb Stored(int x, int y)
    {
        const uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
        doc_->colors().GetColorPlanes(0, &r, &g, &b);
        const size_t at = static_cast<size_t>(y) * doc_->imageWidth() + x;
        return {r[at], g[at], b[at]};
    }
    void ExpectFrame(int n)
    {
        ASSERT_EQ(doc_->imageWidth(), kW);
        ASSERT_EQ(doc_->imageHeight(), kH);
        // Corners, and both sides of a red bar's edge.
        const std::pair<int, int> probes[] = {{0, 0},          {kW - 1, 0}, {0, kH - 1},
                                              {kW - 1, kH - 1}, {31, 17},    {32, 17}};
        for (auto [x, y] : probes) {
            EXPECT_EQ(Stored(x, y), PatternAt(n, kW, kH, x, y)) << x << "," << y;
            EXPECT_EQ(Shown(x, y), PatternAt(n, kW, kH, x, y)) << x << "," << y;
        }
    }

    test::TempDir dir_;
    DocEnvironment env_;
    FramePlacement placement_;
    std::unique_ptr<CLumadriftDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    SyntheticSource* source_ = nullptr;
    int made_ = 0;
};

TEST_F(CameraWindow, CommandsNeedTheCameraKey)
{
    doc_->settings().cameraUse = 0;
    frame_->UpdateActions();
    EXPECT_FALSE(action(kCmdPreview)->isEnabled());
    action(kCmdPreview)->trigger();
    EXPECT_EQ(made_, 0);
    EXPECT_FALSE(view()->previewOpen());
}

TEST_F(CameraWindow, PreviewShowsLiveFramesAndCaptureKeepsTheLast)
{
    doc_->setZoom(50);
    ASSERT_EQ(frame_->zoomBox()->currentText(), QStringLiteral("50%"));
    EXPECT_TRUE(action(kCmdPreview)->isEnabled());
    EXPECT_FALSE(action(kCmdCapture)->isEnabled());

    Press(kCmdPreview);
    ASSERT_EQ(made_, 1);
    EXPECT_TRUE(view()->previewOpen());
    EXPECT_EQ(doc_->state(), kStateCamera);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("無題 - Lumadrift"));
    EXPECT_EQ(doc_->zoom(), 100);
    EXPECT_EQ(frame_->zoomBox()->currentText(), QStringLiteral("100%"));
    EXPECT_TRUE(action(kCmdPreview)->isChecked());
    EXPECT_TRUE(action(kCmdCapture)->isEnabled());
    EXPECT_FALSE(action(kCmdSave)->isEnabled());
    ExpectFrame(0);
    // The scroll area follows the frame: a viewport smaller than the frame
    // plus margins can scroll.
    EXPECT_EQ(view()->cachedImage().size(), QSize(kW, kH));

    source_->Tick();
    source_->Tick();
    ExpectFrame(2);

    Press(kCmdCapture);
    EXPECT_EQ(doc_->state(), kStateColor);
    EXPECT_FALSE(view()->previewOpen());
    EXPECT_EQ(view()->captureSource(), nullptr);
    EXPECT_FALSE(action(kCmdPreview)->isChecked());
    EXPECT_FALSE(action(kCmdCapture)->isEnabled());
    EXPECT_TRUE(action(kCmdRange)->isEnabled());
    ExpectFrame(2);

    // The captured picture works like an opened one: range, then the red
    // channel of the whole picture.
    Press(kCmdRange);
    ASSERT_EQ(doc_->state(), kStateRangeEdit);
    doc_->setRange({0, 0, kW - 1, kH - 1});
    ASSERT_EQ(doc_->Acquire(doc_->AcquireInRange(kChannelRed, 0, 0.0)), 0);
    EXPECT_EQ(doc_->state(), kStateGray);
    const uint8_t* plane = doc_->planes().GetPlane(doc_->currentPlane());
    ASSERT_NE(plane, nullptr);
    for (int x : {0, 23, 24, 63})
        EXPECT_EQ(plane[static_cast<size_t>(5) * kW + x], PatternAt(2, kW, kH, x, 5).r) << x;
}

TEST_F(CameraWindow, PreviewPressedTwiceLeavesNoPicture)
{
    const std::string pic = dir_ / "pic.bmp";
    std::vector<uint8_t> bytes(54 + 4 * 2, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    bytes[2] = static_cast<uint8_t>(bytes.size());
    bytes[10] = 54;
    bytes[14] = 40;
    bytes[18] = 1;
    bytes[22] = 2;
    bytes[26] = 1;
    bytes[28] = 24;
    test::WriteBytes(pic, bytes);
    ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(pic)));
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("pic.bmp - Lumadrift"));

    Press(kCmdPreview);
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("無題 - Lumadrift"));
    EXPECT_EQ(doc_->state(), kStateCamera);
    SyntheticSource* first = source_;
    Press(kCmdPreview);
    EXPECT_EQ(doc_->state(), kStateNoImage);
    EXPECT_FALSE(view()->previewOpen());
    EXPECT_EQ(view()->captureSource(), nullptr);
    EXPECT_TRUE(view()->cachedImage().isNull());
    EXPECT_FALSE(action(kCmdPreview)->isChecked());
    EXPECT_EQ(frame_->windowTitle(), QStringLiteral("無題 - Lumadrift"));
    // The old source is stopped: it delivers nothing more.
    EXPECT_FALSE(first->IsActive());
    first->Tick();
    EXPECT_EQ(doc_->state(), kStateNoImage);

    // A third press starts a fresh preview.
    Press(kCmdPreview);
    EXPECT_EQ(made_, 2);
    EXPECT_EQ(doc_->state(), kStateCamera);
    ExpectFrame(0);
}

TEST_F(CameraWindow, ReadOutFollowsThePointerOverTheLivePicture)
{
    Press(kCmdPreview);
    source_->Tick();
    QSignalSpy spy(view(), &CLumadriftView::cursorRead);
    QTest::mouseMove(view()->viewport(), QPoint(kViewMargin + 40, kViewMargin + 7));
    ASSERT_FALSE(spy.isEmpty());
    const QList<QVariant> v = spy.takeLast();
    const Rgb want = PatternAt(1, kW, kH, 40, 7);
    EXPECT_EQ(v.at(0).toInt(), 40);
    EXPECT_EQ(v.at(1).toInt(), 7);
    EXPECT_EQ(v.at(3).toInt(), want.r);
    EXPECT_EQ(v.at(4).toInt(), want.g);
    EXPECT_EQ(v.at(5).toInt(), want.b);
    // The side panel shows the same pixel.
    EXPECT_EQ(frame_->sidePanel()->valueField(0)->text(), QStringLiteral("40"));
    EXPECT_EQ(frame_->sidePanel()->valueField(1)->text(), QStringLiteral("7"));
}

TEST_F(CameraWindow, CameraErrorIsShownAndEndsThePreview)
{
    Press(kCmdPreview);
    ASSERT_EQ(doc_->state(), kStateCamera);
    Answered a;
    AnswerMessages(a, frame_.get());
    source_->InjectError("ﾃﾞﾊﾞｲｽが応答しません");
    source_->InjectError("second report of the same failure");
    // The source stops at once; the message and the switch-off follow.
    EXPECT_FALSE(source_->IsActive());
    QTRY_VERIFY_WITH_TIMEOUT(!view()->previewOpen(), 10000);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.text, QStringLiteral("ﾃﾞﾊﾞｲｽが応答しません"));
    EXPECT_EQ(a.title, QStringLiteral("Lumadrift"));
    EXPECT_EQ(a.icon, QMessageBox::Warning);
    EXPECT_EQ(doc_->state(), kStateNoImage);
    EXPECT_EQ(view()->captureSource(), nullptr);
    frame_->UpdateActions();
    EXPECT_FALSE(action(kCmdPreview)->isChecked());
    EXPECT_FALSE(action(kCmdCapture)->isEnabled());
}

struct StartFailure {
    const char* name;
    int width, height;
    bool brokenFrames;
    QString message;
};

class CameraStartFailure : public CameraWindow,
                           public ::testing::WithParamInterface<StartFailure> {};

TEST_P(CameraStartFailure, MessageThenPreviewOff)
{
    const StartFailure& c = GetParam();
    doc_->settings().cameraWidth = c.width;
    doc_->settings().cameraHeight = c.height;
    if (c.brokenFrames)
        view()->SetCaptureSourceFactory([] { return std::make_unique<BrokenFrameSource>(); });
    Answered a;
    AnswerMessages(a, frame_.get());
    Press(kCmdPreview);
    QTRY_VERIFY_WITH_TIMEOUT(!view()->previewOpen(), 10000);
    EXPECT_EQ(a.count, 1) << c.name;
    EXPECT_EQ(a.text, c.message) << c.name;
    EXPECT_EQ(a.icon, QMessageBox::Warning);
    EXPECT_EQ(a.title, QStringLiteral("Lumadrift"));
    EXPECT_EQ(doc_->state(), kStateNoImage);
    EXPECT_EQ(view()->captureSource(), nullptr);
    // The next press tries again rather than switching anything off.
    doc_->settings().cameraWidth = kW;
    doc_->settings().cameraHeight = kH;
    view()->SetCaptureSourceFactory([] { return std::make_unique<SyntheticSource>(0); });
    Press(kCmdPreview);
    EXPECT_EQ(doc_->state(), kStateCamera);
}

INSTANTIATE_TEST_SUITE_P(
    Camera, CameraStartFailure,
    ::testing::Values(
        StartFailure{"size", 0, 48, false,
                     QStringLiteral("指定のｷｬﾌﾟﾁｬｰｻｲｽﾞが無効です\r\n(width=0, height=48)")},
        StartFailure{"frame", 64, 48, true, QStringLiteral("ｷｬﾌﾟﾁｬｰした画像が不正です")}),
    [](const ::testing::TestParamInfo<StartFailure>& i) { return std::string(i.param.name); });

TEST_F(CameraWindow, SystemCameraWithoutADeviceSaysNotInstalled)
{
    if (!QMediaDevices::videoInputs().isEmpty())
        GTEST_SKIP() << "this machine has a camera";
    view()->SetCaptureSourceFactory({});  // the real choice
    qunsetenv("LUMADRIFT_CAMERA");
    Answered a;
    AnswerMessages(a, frame_.get());
    Press(kCmdPreview);
    QTRY_VERIFY_WITH_TIMEOUT(!view()->previewOpen(), 10000);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.text, QStringLiteral("PCｶﾒﾗがｲﾝｽﾄｰﾙされていません"));
    EXPECT_EQ(a.icon, QMessageBox::Warning);
    EXPECT_EQ(doc_->state(), kStateNoImage);
}

TEST_F(CameraWindow, OpeningAFileEndsThePreview)
{
    Press(kCmdPreview);
    SyntheticSource* live = source_;
    const std::string pic = dir_ / "one.bmp";
    std::vector<uint8_t> bytes(54 + 4, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    bytes[2] = static_cast<uint8_t>(bytes.size());
    bytes[10] = 54;
    bytes[14] = 40;
    bytes[18] = 1;
    bytes[22] = 1;
    bytes[26] = 1;
    bytes[28] = 24;
    test::WriteBytes(pic, bytes);
    ASSERT_TRUE(frame_->OpenFile(QString::fromStdString(pic)));
    EXPECT_FALSE(live->IsActive());
    EXPECT_FALSE(view()->previewOpen());
    EXPECT_EQ(doc_->state(), kStateColor);
    EXPECT_EQ(doc_->imageWidth(), 1);

    // A file opened behind the view's back (a replayed open line): the next
    // frame finds the picture replaced and the camera goes instead of
    // overwriting it.
    Press(kCmdPreview);
    ASSERT_EQ(doc_->state(), kStateCamera);
    live = source_;
    ASSERT_EQ(doc_->OpenDocument(pic), BmpError::kNone);
    live->Tick();
    EXPECT_EQ(doc_->state(), kStateColor);
    EXPECT_EQ(doc_->imageWidth(), 1);
    EXPECT_FALSE(live->IsActive());
    EXPECT_FALSE(view()->previewOpen());
}

TEST_F(CameraWindow, RecordedPreviewAndCaptureReplayThroughTheCamera)
{
    const std::string macro = dir_ / "cam.flt";
    ASSERT_TRUE(doc_->StartRecording(macro));
    Press(kCmdPreview);
    source_->Tick();
    Press(kCmdCapture);
    // A preview switched off without capture records its two lines as well.
    Press(kCmdPreview);
    Press(kCmdPreview);
    Press(kCmdPreview);
    Press(kCmdCapture);
    frame_->OnCommand(kCmdStopMacro);

    std::vector<int> codes;
    for (const MacroEntry& e : ReadMacroEntries(test::ReadBytes(macro)))
        codes.push_back(e.code);
    EXPECT_EQ(codes, (std::vector<int>{kOpPreview, kOpSleep, kOpCapture, kOpPreview, kOpPreview,
                                       kOpPreview, kOpSleep, kOpCapture}));

    doc_->ReleaseImage();
    ReplayOptions options;
    options.logDir = dir_.path();
    options.pumpMessages = [] { QCoreApplication::processEvents(); };
    const int before = made_;
    const ReplaySummary sum = ReplayMacroFile(*doc_, macro, options);
    EXPECT_EQ(sum.failed, 0);
    EXPECT_EQ(made_, before + 3);  // three switch-ons
    EXPECT_EQ(doc_->state(), kStateColor);
    EXPECT_FALSE(view()->previewOpen());
    EXPECT_EQ(view()->captureSource(), nullptr);
    ExpectFrame(0);  // the replay captures the first frame of the source
}

TEST_F(CameraWindow, ReplayedPreviewWithoutACameraFailsQuietly)
{
    doc_->settings().cameraWidth = 0;  // every start is refused
    Answered a;
    AnswerMessages(a, frame_.get());
    EXPECT_LT(doc_->ReplayPreview(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(a.count, 0);  // the run log says it, not a message box
    EXPECT_FALSE(view()->previewOpen());
    EXPECT_EQ(doc_->state(), kStateNoImage);
    EXPECT_FALSE(doc_->cameraPreviewOn());
}

}  // namespace
}  // namespace lumadrift
