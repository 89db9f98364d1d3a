// What the window tests share: settings kept in the test's folder, answers
// to modal dialogs from the event loop, focus changes, and test pictures.
#pragma once

#include <QApplication>
#include <QFocusEvent>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QColor>
#include <functional>
#include <string>
#include <vector>

#include "core/bmp.h"

namespace lumadrift::test {

// The recent-file list and other QSettings go below dir, never to the
// user's own store.
inline void KeepSettingsIn(const std::string& dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir));
    QCoreApplication::setOrganizationName(QStringLiteral("LumadriftTest"));
    QCoreApplication::setApplicationName(QStringLiteral("LumadriftTest"));
}

// Answers the next modal widget of type T from the event loop. The poll
// stops when it has answered; a poll that must not outlive its step is
// stopped through the returned pointer.
template <typename T>
QPointer<QTimer> AnswerModal(std::function<void(T*)> answer)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(w);
        }
    });
    poll->start(5);
    return poll;
}

inline void StopAnswering(const QPointer<QTimer>& poll)
{
    if (poll)
        poll->deleteLater();
}

inline void FocusOut(QWidget* w)
{
    QFocusEvent ev(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(w, &ev);
}

// A 24-bit BMP file; rgb(x, y) gives each pixel.
inline std::vector<uint8_t> ColorPicture(int w, int h, const std::function<QRgb(int, int)>& rgb)
{
    std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = rgb(x, y);
            uint8_t* p = &bgr[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(qBlue(c));
            p[1] = static_cast<uint8_t>(qGreen(c));
            p[2] = static_cast<uint8_t>(qRed(c));
        }
    return BuildBmp24(bgr.data(), w, h, static_cast<size_t>(w) * 3);
}

}  // namespace lumadrift::test
