// A camera that needs no hardware: a test pattern of moving bars over two
// ramps, one frame per timer tick, at whatever size is asked for. Demos run
// with it (LUMADRIFT_CAMERA=synthetic) and the GUI tests drive it frame by
// frame.
#pragma once

#include <QTimer>
#include <cstdint>
#include <vector>

#include "camera/capture_source.h"

namespace lumadrift {

class SyntheticSource : public CaptureSource {
public:
    // The largest side the pattern is drawn at; beyond it the size is
    // refused as a real camera would refuse it.
    static constexpr int kMaxSide = 4096;

    // intervalMs 0: no timer, frames come only from Tick().
    explicit SyntheticSource(int intervalMs = 33);
    ~SyntheticSource() override;

    // Delivers frame 0 before it returns, so the preview has a picture at once.
    StartResult Start(int width, int height) override;
    void Stop() override;
    bool IsActive() const override { return active_; }

    // The next frame, now (the timer calls this too). Ignored when stopped.
    void Tick();
    // Reports an error as a driver would while running.
    void InjectError(const std::string& text);

    // Frames delivered since the last Start.
    int framesDelivered() const { return frame_; }
    int intervalMs() const { return interval_; }

    // The picture of frame number `frame`: rows top first, blue-green-red,
    // each row padded to a multiple of four bytes (stride returned).
    static std::vector<uint8_t> Pattern(int frame, int width, int height, int* stride);

private:
    QTimer timer_;
    int interval_;
    bool active_ = false;
    int width_ = 0;
    int height_ = 0;
    int frame_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace lumadrift
