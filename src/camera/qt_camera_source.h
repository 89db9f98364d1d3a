// The system camera through Qt Multimedia: a QCamera in a capture session
// whose frames land in a QVideoSink and are handed on as blue-green-red rows.
#pragma once

#include <QImage>
#include <QMediaCaptureSession>
#include <QObject>
#include <QVideoSink>
#include <memory>
#include <vector>

#include "camera/capture_source.h"

class QCamera;
class QVideoFrame;

namespace lumadrift {

// What a camera offers at one resolution.
struct CameraMode {
    int width = 0;
    int height = 0;
    float maxFrameRate = 0.0f;
};

// The mode to ask the camera for: exactly the requested size, the fastest
// one when several formats give it. -1 when no mode has that size; the
// camera is never asked for a size it did not list, since it would quietly
// deliver another one.
int ChooseCameraMode(const std::vector<CameraMode>& modes, int width, int height);

// A video frame as a picture whose rows are blue, green, red (QImage's
// Format_BGR888). Null when the frame cannot be read.
QImage VideoFrameToBgr(const QVideoFrame& frame);

class QtCameraSource : public CaptureSource {
public:
    QtCameraSource();
    ~QtCameraSource() override;

    StartResult Start(int width, int height) override;
    void Stop() override;
    bool IsActive() const override { return active_; }

private:
    void OnVideoFrame(const QVideoFrame& frame);

    QObject context_;  // receives the session's signals on this thread
    QMediaCaptureSession session_;
    QVideoSink sink_;
    std::unique_ptr<QCamera> camera_;
    bool active_ = false;
};

}  // namespace lumadrift
