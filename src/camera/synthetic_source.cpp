#include "camera/synthetic_source.h"

namespace lumadrift {

SyntheticSource::SyntheticSource(int intervalMs) : interval_(intervalMs)
{
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Tick(); });
}

SyntheticSource::~SyntheticSource()
{
    Stop();
}

CaptureSource::StartResult SyntheticSource::Start(int width, int height)
{
    Stop();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {false, CameraSizeInvalidText(width, height)};
    width_ = width;
    height_ = height;
    frame_ = 0;
    active_ = true;
    Tick();
    // The frame callback may have stopped us already (a refused frame).
    if (active_ && interval_ > 0)
        timer_.start(interval_);
    return {true, {}};
}

void SyntheticSource::Stop()
{
    active_ = false;
    timer_.stop();
}

void SyntheticSource::Tick()
{
    if (!active_)
        return;
    int stride = 0;
    buffer_ = Pattern(frame_, width_, height_, &stride);
    ++frame_;
    DeliverFrame({buffer_.data(), width_, height_, stride});
}

void SyntheticSource::InjectError(const std::string& text)
{
    if (active_)
        ReportError(text);
}

std::vector<uint8_t> SyntheticSource::Pattern(int frame, int width, int height, int* stride)
{
    const int s = (width * 3 + 3) & ~3;
    if (stride)
        *stride = s;
    std::vector<uint8_t> out(static_cast<size_t>(s) * height, 0);
    // Blue: a horizontal ramp drifting right by 4 levels a frame; green: a
    // still vertical ramp; red: 32-pixel bars moving 8 pixels a frame. Every
    // pixel differs from its neighbours in some channel, and consecutive
    // frames differ everywhere, so a stale or shifted frame is easy to see.
    const int f = frame & 63;  // the pattern repeats every 64 frames
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.data() + static_cast<size_t>(y) * s;
        const uint8_t green = static_cast<uint8_t>(height > 1 ? y * 255 / (height - 1) : 0);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = row + 3 * x;
            p[0] = static_cast<uint8_t>((x * 256 / width + 4 * f) & 0xff);
            p[1] = green;
            p[2] = ((x + 8 * f) / 32) % 2 ? 0xe0 : 0x20;
        }
    }
    return out;
}

}  // namespace lumadrift
