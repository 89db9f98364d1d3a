// Camera frames in the document and the replay of preview and capture.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"

namespace lumadrift {
namespace {

std::vector<uint8_t> Frame(int w, int h, int stride)
{
    std::vector<uint8_t> f(static_cast<size_t>(stride) * h, 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            f[y * stride + 3 * x + 0] = static_cast<uint8_t>(x);       // blue
            f[y * stride + 3 * x + 1] = static_cast<uint8_t>(y);       // green
            f[y * stride + 3 * x + 2] = static_cast<uint8_t>(x + y);   // red
        }
    return f;
}

TEST(CameraDocument, FramesBecomeTheColourImageAndCaptureKeepsTheLast)
{
    test::Installation inst;
    CLumadriftDoc doc(inst.Environment());
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    doc.StartCameraPreview();
    EXPECT_EQ(doc.Title(), "無題");
    const auto f = Frame(5, 3, 20);
    ASSERT_EQ(doc.SetCameraFrame(f.data(), 5, 3, 20), 0);
    EXPECT_EQ(doc.state(), kStateCamera);
    EXPECT_EQ(CheckCode(doc, 60), 0);
    ASSERT_EQ(doc.CaptureCamera(), 0);
    doc.StopRecording();
    EXPECT_EQ(doc.state(), kStateColor);
    const uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    doc.colors().GetColorPlanes(0, &r, &g, &b);
    EXPECT_EQ(r[2 * 5 + 4], 6);
    EXPECT_EQ(g[2 * 5 + 4], 2);
    EXPECT_EQ(b[2 * 5 + 4], 4);
    // The captured frame is a colour picture like an opened file.
    ASSERT_EQ(doc.Acquire({0, 0, 0, 1, 1, 3, 2}), 0);
    EXPECT_EQ(doc.planes().GetPlane(0)[0], 2);
    const std::string rec = test::ReadText(inst.root() + "/filter/rec.flt");
    EXPECT_EQ(rec.substr(0, rec.find("\r\n") + 2), test::MacroBytes("59 プレビュー\n"));
    EXPECT_NE(rec.find(test::MacroBytes("63 スリープ\n")), std::string::npos);
    EXPECT_NE(rec.find(test::MacroBytes("60 キャプチャー\n")), std::string::npos);
}

TEST(CameraDocument, BadFramesAreRefused)
{
    test::Installation inst;
    CLumadriftDoc doc(inst.Environment());
    const auto f = Frame(4, 4, 12);
    EXPECT_EQ(doc.SetCameraFrame(f.data(), 4, 4, 11), -1);  // stride too short
    EXPECT_EQ(doc.SetCameraFrame(nullptr, 4, 4, 12), -1);
    EXPECT_EQ(doc.SetCameraFrame(f.data(), 0, 4, 12), -1);
    EXPECT_EQ(doc.state(), kStateNoImage);
    EXPECT_EQ(doc.CaptureCamera(), -1);
}

TEST(CameraDocument, ReplayWithoutACameraFailsAndWithOneToggles)
{
    test::Installation inst;
    CLumadriftDoc doc(inst.Environment());
    std::vector<int> failed;
    ReplayOptions o;
    o.onEntry = [&](const ReplayEntry& e) {
        if (e.outcome != EntryOutcome::kRan)
            failed.push_back(e.lineNumber);
    };
    ReplayMacroBytes(doc, test::Bytes(test::MacroBytes("59 プレビュー\n60 キャプチャー\n")), o);
    EXPECT_EQ(failed, (std::vector<int>{1, 2}));

    // A camera that delivers one frame as soon as it is switched on.
    const auto f = Frame(3, 2, 9);
    doc.SetCameraHook([&](bool on) {
        if (on)
            doc.SetCameraFrame(f.data(), 3, 2, 9);
        return true;
    });
    failed.clear();
    ReplayMacroBytes(doc, test::Bytes(test::MacroBytes("59 プレビュー\n63 スリープ\nミリ秒=0\n60 キャプチャー\n")), o);
    EXPECT_TRUE(failed.empty());
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.imageWidth(), 3);
}

TEST(CameraDocument, OpeningAFileEndsThePreview)
{
    test::Installation inst;
    CLumadriftDoc doc(inst.Environment());
    std::vector<bool> calls;
    doc.SetCameraHook([&](bool on) {
        calls.push_back(on);
        return true;
    });
    ASSERT_EQ(doc.ReplayPreview(), 0);
    EXPECT_TRUE(doc.cameraPreviewOn());
    test::WriteBytes(inst.root() + "/picture/a.bmp", test::MakeBmp24(3, 3));
    ASSERT_EQ(doc.OpenDocument(inst.root() + "/picture/a.bmp"), BmpError::kNone);
    EXPECT_FALSE(doc.cameraPreviewOn());
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
    // The next preview line starts the camera again instead of dropping the file.
    ASSERT_EQ(doc.ReplayPreview(), 0);
    EXPECT_EQ(calls.back(), true);
}

}  // namespace
}  // namespace lumadrift
