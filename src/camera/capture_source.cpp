#include "camera/capture_source.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "camera/qt_camera_source.h"
#include "camera/synthetic_source.h"

namespace lumadrift {

const char* const kCameraNotInstalledText = "PCｶﾒﾗがｲﾝｽﾄｰﾙされていません";
const char* const kCameraNotConnectedText = "利用可能なPCｶﾒﾗが接続されていません";
const char* const kCameraFrameInvalidText = "ｷｬﾌﾟﾁｬｰした画像が不正です";

std::string CameraSizeInvalidText(int width, int height)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "指定のｷｬﾌﾟﾁｬｰｻｲｽﾞが無効です\r\n(width=%d, height=%d)", width,
                  height);
    return buf;
}

std::unique_ptr<CaptureSource> MakeCaptureSource()
{
    const char* which = std::getenv("LUMADRIFT_CAMERA");
    if (which && std::strcmp(which, "synthetic") == 0)
        return std::make_unique<SyntheticSource>();
    return std::make_unique<QtCameraSource>();
}

}  // namespace lumadrift
