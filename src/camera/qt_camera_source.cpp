#include "camera/qt_camera_source.h"

#include <QCamera>
#include <QCameraDevice>
#include <QCameraFormat>
#include <QMediaDevices>
#include <QVideoFrame>

namespace lumadrift {

int ChooseCameraMode(const std::vector<CameraMode>& modes, int width, int height)
{
    int best = -1;
    for (size_t i = 0; i < modes.size(); ++i) {
        const CameraMode& m = modes[i];
        if (m.width != width || m.height != height)
            continue;
        if (best < 0 || m.maxFrameRate > modes[static_cast<size_t>(best)].maxFrameRate)
            best = static_cast<int>(i);
    }
    return best;
}

QImage VideoFrameToBgr(const QVideoFrame& frame)
{
    if (!frame.isValid())
        return {};
    const QImage img = frame.toImage();
    if (img.isNull())
        return {};
    return img.convertToFormat(QImage::Format_BGR888);
}

QtCameraSource::QtCameraSource()
{
    session_.setVideoSink(&sink_);
    // The sink may signal from the backend's thread; the context object
    // lives on ours, so frames arrive queued on the GUI thread.
    QObject::connect(&sink_, &QVideoSink::videoFrameChanged, &context_,
                     [this](const QVideoFrame& f) { OnVideoFrame(f); });
}

QtCameraSource::~QtCameraSource()
{
    Stop();
    session_.setCamera(nullptr);
}

CaptureSource::StartResult QtCameraSource::Start(int width, int height)
{
    Stop();
    const QList<QCameraDevice> inputs = QMediaDevices::videoInputs();
    if (inputs.isEmpty())
        return {false, kCameraNotInstalledText};
    QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        device = inputs.first();

    const QList<QCameraFormat> formats = device.videoFormats();
    if (formats.isEmpty())
        return {false, kCameraNotConnectedText};
    std::vector<CameraMode> modes;
    modes.reserve(static_cast<size_t>(formats.size()));
    for (const QCameraFormat& f : formats)
        modes.push_back({f.resolution().width(), f.resolution().height(), f.maxFrameRate()});
    const int chosen = ChooseCameraMode(modes, width, height);
    if (chosen < 0)
        return {false, CameraSizeInvalidText(width, height)};

    auto camera = std::make_unique<QCamera>(device);
    // A camera that is listed but busy or gone reports its error at once.
    if (!camera->isAvailable() || camera->error() != QCamera::NoError)
        return {false, kCameraNotConnectedText};
    camera->setCameraFormat(formats.at(chosen));
    QObject::connect(camera.get(), &QCamera::errorOccurred, &context_,
                     [this](QCamera::Error error, const QString& text) {
                         if (active_ && error != QCamera::NoError)
                             ReportError(text.toStdString());
                     });
    camera_ = std::move(camera);
    session_.setCamera(camera_.get());
    active_ = true;
    camera_->start();
    return {true, {}};
}

void QtCameraSource::Stop()
{
    active_ = false;
    if (camera_) {
        camera_->stop();
        session_.setCamera(nullptr);
        camera_.reset();
    }
}

void QtCameraSource::OnVideoFrame(const QVideoFrame& frame)
{
    // Frames already queued when the preview stopped are dropped here.
    if (!active_)
        return;
    const QImage bgr = VideoFrameToBgr(frame);
    if (bgr.isNull()) {
        ReportError(kCameraFrameInvalidText);
        return;
    }
    DeliverFrame({bgr.constBits(), bgr.width(), bgr.height(),
                  static_cast<int>(bgr.bytesPerLine())});
}

}  // namespace lumadrift
