// The scrolling view: shows the colour picture or the current gray plane at
// the document's zoom, drawn at display position (5, 5), with the overlays
// of the current state (range frame, highlighted labels, density profile),
// and carries out the image commands through the document's entries.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "camera/capture_source.h"
#include "commands/lumadrift_doc.h"
#include "ui/result_windows.h"
#include "ui/view_geometry.h"

namespace lumadrift {


class CLumadriftView : public QAbstractScrollArea, public DocObserver {
    Q_OBJECT
public:
    explicit CLumadriftView(CLumadriftDoc& doc, QWidget* parent = nullptr);
    ~CLumadriftView() override;

    // The bitmap the next paint draws (rebuilt only when RenderPending >= 0).
    const QImage& cachedImage() const { return image_; }

    // Runs an image command; false when the id is not the view's.
    bool OnCommand(int id);

    // Command 32773: state 1 <-> 2 with the frame shown or removed.
    void ToggleRangeDisplay();
    // The side panel's boxes (text as typed); ignored outside states 1 and 2.
    void ApplyRangeBoxes(const QString& x, const QString& y, const QString& w, const QString& h);
    // After a zoom change: display range, profile line, scroll area, repaint.
    void ApplyZoom();

    // Label values (state 5) or sample indices (state 7) to mark.
    void SetSelectedItems(const std::vector<int>& items);
    const std::vector<int>& selectedItems() const { return selected_; }

    // The profile line in display pixels without margin (x1, y1, x2, y2).
    const ViewRect& profileLineDisplay() const { return lineDisp_; }
    CProfileResultWnd* profileWindow() const { return profileWnd_; }
    // Opens the profile result window in state 7 and closes it elsewhere
    // (a replay may change the state without the menu).
    void SyncProfileWindow();

    // Command 32814: the live camera picture on or off.
    void TogglePreview();
    // Command 32815: the last frame stays as the colour picture.
    void Capture();
    // True from the preview's start until it is switched off or captured,
    // also while a failed start waits for its switch-off.
    bool previewOpen() const { return previewOpen_; }
    // The running source, or null.
    CaptureSource* captureSource() const { return camera_.get(); }
    // Stops the camera without touching the document (an opened file
    // replaces the live picture).
    void CloseCamera();
    // Where the next preview gets its source (the system camera, or the test
    // pattern when LUMADRIFT_CAMERA=synthetic, unless replaced here).
    using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;
    void SetCaptureSourceFactory(CaptureSourceFactory factory) { cameraFactory_ = std::move(factory); }

    // The picture as the operator sees it now (image and overlays) at the
    // viewport's size.
    QImage RenderViewport() const;
    int dragState() const { return dragState_; }

    void OnImageChanged() override;
    void OnZoomChanged(int zoom) override;
    void OnRangeChanged() override;
    void OnTitleChanged() override;
    void OnHistoryChanged() override;
    void OnProfileChanged() override;

Q_SIGNALS:
    // For the side panel: the pixel under the pointer.
    void cursorRead(int x, int y, int brightness, int red, int green, int blue);
    // For the side panel: the image range now stored.
    void rangeShown(int left, int top, int right, int bottom);
    void zoomChanged(int zoom);
    // Asks the main window to run a command (profile window closing).
    void commandRequested(int id);
    void titleChanged();
    // The undo history changed (for the history panel).
    void historyChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void RebuildIfPending();
    void UpdateScrollBars();
    QPoint DisplayPos(const QPointF& viewportPos) const;
    void StoreRange(const ViewRect& withMargin);
    void ShowStoredRange();
    ViewRect StoredFrame() const;
    void DrawOverlays(QImage& target, int offsetX, int offsetY) const;
    void ReadOut(const QPoint& p);

    void OnZoomDialog();
    void OnColorSettings();
    void OnAcquire();
    void OnBinarize();
    void OnLabeling();
    void OnDensity(bool gamma);
    void OnKernel(int id);
    void OnConvolution();
    void OnAffine();
    void OnPool();
    void OnInterImage(int id);
    void OnToggleProfile();
    // The main window active and the keys in the view (after a result window).
    void FocusBackToView();
    void OnFft();
    void Warn(const QString& text);
    bool OpenCamera(bool interactive);
    void OnCameraFrame(int session, const CameraFrame& frame);
    void FailCamera(int session, const QString& text);

    CLumadriftDoc& doc_;
    QImage image_;
    int dragState_ = 0;
    QPoint fixed_, moving_, grab_, far_;
    ViewRect lastDrawn_;
    bool lastDrawnShown_ = false;
    ViewRect lineDisp_;  // without margin
    ViewRect lineImg_;
    bool lineDragging_ = false;
    ViewRect lineDrawn_;  // with margin, while dragging
    std::vector<int> selected_;
    QPointer<CProfileResultWnd> profileWnd_;
    CaptureSourceFactory cameraFactory_;
    std::unique_ptr<CaptureSource> camera_;
    // A stopped source is kept until the next one is closed: it may still be
    // on the call stack of its own callback.
    std::unique_ptr<CaptureSource> retiredCamera_;
    bool previewOpen_ = false;
    bool cameraFailing_ = false;
    int cameraSession_ = 0;
};

// The picture the view shows for the document's present state: the colour
// planes of slot 0 (states other than 3..7) or the gray plane `plane` through
// the gray table. Null when there is nothing to show.
QImage RenderDocumentImage(const CLumadriftDoc& doc, int plane);

// Exclusive-or drawing of the range frame (closed outline left-top ->
// left-bottom -> right-bottom -> right-top) and of the profile line, with a
// pen of width toDisplay(1) in colour (0x00BBGGRR; 0 draws as white, which
// inverts); drawing twice restores.
void DrawRangeFrame(QImage& target, const ViewRect& r, uint32_t color, int zoom);
void DrawProfileLine(QImage& target, const ViewRect& line, uint32_t color, int zoom);

// The FFT could not start for want of memory for its transform.
extern const char* const kFftCannotStartText;

QColor FromColorRef(uint32_t c);
uint32_t ToColorRef(const QColor& c);

}  // namespace lumadrift
