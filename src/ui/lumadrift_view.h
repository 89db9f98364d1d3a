// The scrolling view: shows the colour picture or the current gray plane at
// the document's zoom, drawn at display position (5, 5).
#pragma once

#include <QAbstractScrollArea>
#include <QImage>

#include "commands/lumadrift_doc.h"

namespace lumadrift {

class CLumadriftView : public QAbstractScrollArea, public DocObserver {
    Q_OBJECT
public:
    explicit CLumadriftView(CLumadriftDoc& doc, QWidget* parent = nullptr);
    ~CLumadriftView() override;

    // The bitmap the next paint draws (rebuilt only when RenderPending >= 0).
    const QImage& cachedImage() const { return image_; }

    void OnImageChanged() override;
    void OnZoomChanged(int zoom) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RebuildIfPending();
    void UpdateScrollBars();

    CLumadriftDoc& doc_;
    QImage image_;
};

// The picture the view shows for the document's present state: the colour
// planes of slot 0 (states other than 3..7) or the gray plane `plane` through
// the gray table. Null when there is nothing to show.
QImage RenderDocumentImage(const CLumadriftDoc& doc, int plane);

}  // namespace lumadrift
