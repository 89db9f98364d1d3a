// Where live camera frames come from. The view owns one source while the
// preview runs; the source hands it frames as blue-green-red rows, which is
// what the document takes, so nothing above this header needs Qt types to
// talk about a frame.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lumadrift {

// One delivered frame: rows top first, bytes blue, green, red, stride bytes
// per row. The bytes belong to the source and are valid only during the
// frame callback.
struct CameraFrame {
    const uint8_t* bgr = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// The operator's texts for a camera that cannot be used (UTF-8).
extern const char* const kCameraNotInstalledText;    // no camera at all
extern const char* const kCameraNotConnectedText;    // a camera, but unusable
extern const char* const kCameraFrameInvalidText;    // a frame that cannot be read
// The size the operator configured is not one the camera gives.
std::string CameraSizeInvalidText(int width, int height);

class CaptureSource {
public:
    using FrameCallback = std::function<void(const CameraFrame&)>;
    // A failure while running, with the text to show the operator.
    using ErrorCallback = std::function<void(const std::string& text)>;

    struct StartResult {
        bool ok = false;
        // Shown to the operator when the start fails; empty for a failure
        // that has nothing useful to say.
        std::string message;
    };

    virtual ~CaptureSource() = default;

    void SetFrameCallback(FrameCallback cb) { onFrame_ = std::move(cb); }
    void SetErrorCallback(ErrorCallback cb) { onError_ = std::move(cb); }

    // A source is never destroyed from inside one of its own callbacks; the
    // owner stops it there and lets it go later.
    //
    // Starts delivering frames of width x height. Frames and errors are
    // reported on the thread that owns the source (the GUI thread). A source
    // may deliver its first frame before Start returns.
    virtual StartResult Start(int width, int height) = 0;
    // No callback runs after Stop returns; Stop on a stopped source is fine.
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;

protected:
    void DeliverFrame(const CameraFrame& f)
    {
        if (onFrame_)
            onFrame_(f);
    }
    void ReportError(const std::string& text)
    {
        if (onError_)
            onError_(text);
    }

private:
    FrameCallback onFrame_;
    ErrorCallback onError_;
};

// The source the workbench uses: the test pattern when the environment
// variable LUMADRIFT_CAMERA is "synthetic", else the system camera.
std::unique_ptr<CaptureSource> MakeCaptureSource();

}  // namespace lumadrift
