// The document: the loaded file, the working planes and everything the
// operations change. The GUI, the replay engine and the command-line tool
// all act through these entries, so every rule about state, planes and
// recording lives here. No Qt.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/directories.h"
#include "app/image_settings.h"
#include "commands/command_table.h"
#include "commands/macro_recorder.h"
#include "commands/operation_table.h"
#include "core/acquisition.h"
#include "core/bmp.h"
#include "core/history.h"
#include "core/image_model.h"
#include "core/image_pool.h"
#include "core/plane_bank.h"
#include "filters/affine.h"
#include "filters/auto_threshold.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/derivative.h"
#include "filters/fft.h"
#include "filters/interimage.h"
#include "filters/labeling.h"
#include "filters/smoothing.h"

namespace lumadrift {

// What the view is told; the document never draws.
// One sampled pixel of a density profile.
struct ProfileRow {
    int x = 0;
    int y = 0;
    int value = 0;
};

// A profile line in image pixels.
struct ProfileLine {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

class DocObserver {
public:
    virtual ~DocObserver() = default;
    // The picture on screen changed (RenderPending was set) or must repaint.
    virtual void OnImageChanged() {}
    virtual void OnZoomChanged(int /*zoom*/) {}
    virtual void OnRangeChanged() {}
    virtual void OnTitleChanged() {}
    // The history gained, lost or described a step, or moved along it.
    virtual void OnHistoryChanged() {}
    // The profile was switched on or off, or a line was sampled (from the
    // mouse or a replayed line): the table and the line to show changed.
    virtual void OnProfileChanged() {}
};

struct DocEnvironment {
    int layoutState = -1;  // 0: directories and settings are used
    Directories dirs;
    bool createDirectories = true;   // create missing sibling folders
    bool loadSettings = true;
    bool saveSettings = true;        // write the INI when the document goes away
};

class CLumadriftDoc {
public:
    explicit CLumadriftDoc(const DocEnvironment& env);
    ~CLumadriftDoc();
    CLumadriftDoc(const CLumadriftDoc&) = delete;
    CLumadriftDoc& operator=(const CLumadriftDoc&) = delete;

    void SetObserver(DocObserver* o) { observer_ = o; }

    // --- files -----------------------------------------------------------
    // Opens a BMP file. Everything is checked before the current image is
    // released, so a refused file leaves image, history and pool as they
    // were. Records code 51 while recording.
    BmpError OpenDocument(const std::string& path);
    // Save: -1 when there is no path yet (the caller runs Save As).
    int SaveDocument();
    // Writes the gray file in states 3..7, else the colour file; the
    // document's path does not change.
    int SaveAs(const std::string& path);
    int WriteColorFile(const std::string& path);
    int WriteGrayFile(const std::string& path);
    // Back from the gray images to the loaded file (states 3, 4, 5).
    void ShowSourcePicture();
    // Frees the file, the planes, the history and the pool.
    void ReleaseImage();

    // --- processing range -------------------------------------------------------
    // Range editing on the colour picture: state 1 <-> 2; -1 in other states.
    int ToggleRangeEdit();

    // --- acquisition ---------------------------------------------------------
    // The range is stored (normalized) first; -1 (and nothing else
    // changes) when it does not lie inside the image or the channel is not
    // 0..5.
    int Acquire(const AcquireParams& p);
    // The parameters of an acquisition over the stored range.
    AcquireParams AcquireInRange(int channel, int invert, double baseAngle) const;

    // --- the working ring and the operation protocol -------------------------
    // Selects (current, next) and makes next current and pending.
    void AdvancePlaneRing();
    // The same from a given plane (a preview or a repeated pool target
    // starts again from the plane it started from).
    void AdvancePlaneRingFrom(int plane);
    void MakeGrayHeader(int width, int height);
    // Pushes (current plane, state) on the history as a step of operation
    // code; the step takes its text from the next line recorded for code.
    void PushHistory(int code);
    // Tells the view to rebuild and repaint the current plane.
    void Redraw();

    using PlaneFilter = std::function<void(PlaneBank&)>;
    // The common protocol after the parameters are settled: advance the
    // ring, set the state the operation leaves, push the history step, run
    // the filter from the source into the destination plane, redraw, record.
    // A filter that runs out of memory (std::bad_alloc) leaves the picture,
    // state and history as they were, and the exception goes on to the
    // caller, which says so.
    void RunGrayOperation(int code, const std::string& params, const PlaneFilter& filter);
    // Live previews (binarization, FFT): BeginPreview remembers the plane
    // the dialog opened on; every RunPreview advances the ring from that
    // plane again and runs the filter, so a preview never stacks on itself.
    void BeginPreview();
    void RunPreview(const PlaneFilter& filter);
    // The histogram of the plane a preview started from (what the dialog
    // opened on, not the preview shown over it), and of the current plane.
    // All zero without planes.
    GrayHistogram PreviewSourceHistogram() const;
    GrayHistogram CurrentHistogram() const;

    // --- binarization, dilation, erosion, thinning ------------------------------
    // The dialog flow: BeginBinarize clamps the stored thresholds to 0..255
    // and previews them from the current plane; PreviewBinarize re-runs from
    // that same plane with the values on screen; CompleteBinarize runs
    // however the dialog closed: ok stores the shown values, any other close
    // binarizes with the stored ones again, so the picture is what the
    // recorded line replays; then state 4, history step, record.
    void BeginBinarize();
    void PreviewBinarize(const BinarizeParams& p);
    void CompleteBinarize(bool ok, const BinarizeParams& p);
    // Without a dialog: the thresholds are stored, then the same flow.
    int Binarize(const BinarizeParams& p);
    void DilateImage();
    void ErodeImage();
    void ThinImage();

    // --- density conversion and smoothing ---------------------------------------
    int ContrastImage(const ContrastParams& p);
    // -1, with nothing changed, for gamma <= 0 (or not a number).
    int GammaImage(const GammaParams& p);
    void EqualizeImage();
    // Even sizes are raised by one; -1, with nothing changed, when a size
    // stays below 1 or the window is too large (or, for the rank filter, the
    // position is not inside the window).
    int MovingAverageImage(const KernelSizeParams& p);
    int MedianImage(const KernelSizeParams& p);
    int RankImage(const RankParams& p);

    // --- labeling --------------------------------------------------------------
    // State 5, ring advance, history step, labels, redraw; then the result
    // dialog shows LabelingRows and may save them; CompleteLabeling records
    // the result file the document holds.
    LabelOutcome BeginLabeling();
    std::vector<LabelingRow> LabelingRows();
    // Writes the rows to path and makes it the document's result file.
    int SaveLabelingResult(const std::string& path);
    void CompleteLabeling();
    // Replay: the path becomes the result file and the rows are written to
    // it (an empty path labels without writing). -1 when the file cannot be
    // written; the labels stay.
    int ReplayLabel(const std::string& path);
    const std::string& labelingResultPath() const { return labelingResultPath_; }
    const LabelOutcome& lastLabeling() const { return lastLabeling_; }

    // --- derivatives and convolution ------------------------------------------
    void RobertsImage();
    void SobelImage();
    void PrewittImage();
    void LaplacianImage();
    void SmoothImage();
    void SharpenImage();
    // Mode 3 or 5 with typed coefficients, or mode 0 with a kernel file. -1,
    // with nothing changed, when the kernel cannot be had (the dialog shows
    // its message; replay logs the failure). A replayed step records its
    // coefficients as whole numbers.
    int ConvolveImage(const ConvolutionParams& p, bool replayed = false);
    const ConvolutionKernel& kernel() const { return kernel_; }

    // --- affine transformation --------------------------------------------------
    int AffineImage(const AffineParams& p);

    // --- FFT band-pass ------------------------------------------------------------
    // The dialog flow. BeginFft: -1 with nothing changed when the thread
    // count is outside 1..5, -2 when the transform bank cannot be had or the
    // forward pass cannot run; else 0 after the forward transform of the
    // current plane. PreviewFft shows the masked spectrum from the same
    // plane again. MaskFileValid reads a mask file into the bank (for shape
    // 2 previews). SetFftMaskFile is the dialog's path as committed (typed,
    // browsed, or found when the user mask is chosen): it becomes the stored
    // path when the file reads as a mask, else the stored path is cleared
    // and false returned. CompleteFft runs however the dialog closed: ok
    // stores the shown values; then the band-pass with the stored values (a
    // mask file the bank does not hold yet is read now), the inverse
    // transform, history step, redraw, record. A missing or unreadable mask
    // file skips the band-pass, still runs the inverse and records, and
    // returns -1.
    int BeginFft();
    void PreviewFft(const FftParams& p);
    bool MaskFileValid(const std::string& path);
    bool SetFftMaskFile(const std::string& path);
    int SaveFftMask(const std::string& path);
    int CompleteFft(bool ok, const FftParams& p);
    // Without a dialog: BeginFft, then CompleteFft with the given values.
    int Fft(const FftParams& p);
    const FftBank& fftBank() const { return fft_; }

    // --- density profile --------------------------------------------------------
    // State 3 <-> 7 with an empty table and the end points (0, 0, 0, 0);
    // records "ID=1" on entering, "ID=0" on leaving. -1 in any other state.
    int ToggleProfile();
    // Samples the current plane along the line (image pixels, inside the
    // image) column by column when it is at most 45 degrees from the
    // horizontal, else row by row, from the smaller end; the far end is not
    // sampled. A one-point line samples nothing and changes nothing (table,
    // stored line and end points stay). Returns the number of samples.
    int ComputeProfile(int x1, int y1, int x2, int y2);
    // The result table: what a save writes.
    const std::vector<ProfileRow>& profileRows() const { return profileRows_; }
    // Whether the graph is shown: from a sampled line until the next press
    // in the view (ClearProfile) or the profile's end.
    bool hasProfileSamples() const { return profileSampled_; }
    // The graph's plotting pairs: (i, 255 - v) row-wise, (v, i) column-wise;
    // none while the graph is not shown.
    std::vector<std::pair<int, int>> ProfileSamples() const;
    // The ordered end points of the last sampled line: the table's line,
    // which a save records.
    const ProfileLine& profileEnds() const { return profileEnds_; }
    const ProfileLine& profileLine() const { return profileLine_; }
    // A new press in the view frees the samples (the graph goes); the table
    // stays until a line is sampled.
    void ClearProfile();
    // Writes the table (CP932, tabs, CR LF) and records the save. -1 when
    // the file cannot be written (nothing recorded).
    int WriteProfileFile(const std::string& path);
    // Replay of code 58: ID 1 opens (state 3), ID 0 closes (state 7), ID 2
    // samples the given line, clipped to the image, and writes path.
    int ReplayProfile(int id, int x1, int y1, int x2, int y2, const std::string& path);

    // --- camera -----------------------------------------------------------------
    // The live window belongs to the view; the document keeps the frames.
    // StartCameraPreview makes the document new and untitled (image
    // released, zoom 100); every delivered frame replaces the colour image
    // (state 8); CaptureCamera keeps the last frame as the colour image
    // (state 1); StopCameraPreview leaves without a picture (state 0).
    // Recording writes 59 at start and stop, and 63 (elapsed ms) then 60 at
    // capture.
    void StartCameraPreview();
    void StopCameraPreview();
    // A frame of width x height pixels, rows top first, bytes blue, green,
    // red at stride bytes per row. -1 (nothing changed) for a bad size.
    int SetCameraFrame(const uint8_t* bgr, int width, int height, int stride);
    // A replayed capture writes only 60: its wait was a replayed 63 line.
    int CaptureCamera(bool replayed = false);
    // How replayed preview lines reach the camera: the view installs a hook
    // that switches its live window on or off (true on success).
    void SetCameraHook(std::function<bool(bool on)> hook) { cameraHook_ = std::move(hook); }
    bool cameraPreviewOn() const { return cameraOn_; }
    // Replay of 59: toggles through the hook; -1 when there is no camera.
    int ReplayPreview();

    // --- undo and redo --------------------------------------------------------
    // 0, or -1 (nothing changes) when there is no step in that direction.
    int Undo();
    int Redo();
    const History& history() const { return history_; }

    // --- image pool -------------------------------------------------------------
    ImagePool& pool() { return pool_; }
    const ImagePool& pool() const { return pool_; }
    // True when the entry exists and has the size of the gray image.
    bool PoolEntryFits(int id) const;
    // Adds the current plane under name (cut to 259 bytes of CP932).
    void PoolAdd(const std::string& name);
    // The pool dialog's actions. Each returns 0, or -1 when it did nothing.
    void PoolDialogOpen();
    int PoolDialogAdd(const std::string& name);        // empty name: nothing
    int PoolDialogDelete(int row);                     // row < 0: none selected
    int PoolDialogSave(int row, const std::string& path);  // path empty: cancelled
    void PoolDialogDeleteAll();
    // -1 with nothing changed when the entry's size differs (the dialog shows
    // its message) or no row is selected.
    int PoolDialogToTarget(int row);
    // After a to-target the dialog offers only "⇒ 対象" and OK.
    bool PoolDialogButtonsDisabled() const { return poolDialog_.buttonsDisabled; }
    void PoolDialogClose(bool ok);
    // The replay of a pool line (action, index, text).
    int ReplayPool(int action, int id, const std::string& text);

    // --- inter-image operations -------------------------------------------------
    // 0 when both entries exist and have the gray image's size, else -1.
    int CheckOperands(int targetId, int referenceId) const;
    // -1, with nothing changed, when CheckOperands refuses.
    int InterImage(BitOp op, const InterImageParams& p);

    // --- waits ----------------------------------------------------------------
    // A replayed wait; recorded like every replayed step, so a re-recorded
    // macro keeps its waits.
    int Sleep(const SleepParams& p);

    // --- recording --------------------------------------------------------
    bool StartRecording(const std::string& path) { return recorder_.Start(path); }
    void StopRecording() { recorder_.Stop(); }
    bool IsRecording() const { return recorder_.recording(); }
    // Appends an entry when recording (UTF-8 parameter text).
    void Record(int code, const std::string& parameterText = {});
    // Records a step whose line is its regular fields.
    template <typename P>
    void RecordParams(int code, const P& params);

    // --- settings -----------------------------------------------------------
    void LoadSettings();
    void SaveSettings();

    // --- values -----------------------------------------------------------
    int state() const { return state_; }
    void setState(int s) { state_ = s; }
    int imageWidth() const { return imageWidth_; }
    int imageHeight() const { return imageHeight_; }
    int renderPending() const { return renderPending_; }
    void setRenderPending(int p) { renderPending_ = p; }
    int currentPlane() const { return currentPlane_; }
    int ringSize() const { return ringSize_; }
    int zoom() const { return zoom_; }
    void setZoom(int z);
    bool undoAvailable() const { return history_.undoAvailable(); }
    bool redoAvailable() const { return history_.redoAvailable(); }

    const std::string& pathName() const { return path_; }
    // The file name shown in the title, or "無題" without a file.
    std::string Title() const;

    bool hasFile() const { return !file_.fileData.empty(); }
    const LoadedBmp& file() const { return file_; }
    const GrayHeader& grayHeader() const { return gray_; }

    PlaneBank& planes() { return planes_; }
    const PlaneBank& planes() const { return planes_; }
    ColorBank& colors() { return colors_; }
    const ColorBank& colors() const { return colors_; }

    ImageSettings& settings() { return settings_; }
    const ImageSettings& settings() const { return settings_; }
    const DocEnvironment& environment() const { return env_; }
    const Directories& dirs() const { return env_.dirs; }

    // The values the command rules read.
    CommandContext CommandValues() const;

    ProcessingRange range() const { return settings_.range; }
    void setRange(const ProcessingRange& r);

private:
    void NotifyImage();
    void ResetHistory();
    int AcquireCore(int channel, int invert, double baseAngle);
    void FinishFft(bool applyMask);
    void WritePoolEntryToDestination(const PoolEntry& e);
    void LoadOperands(int code, int targetId, int referenceId);
    GrayHistogram PlaneHistogram(int plane) const;
    void NotifyHistory();

    DocEnvironment env_;
    DocObserver* observer_ = nullptr;
    ImageSettings settings_;
    MacroRecorder recorder_;

    PlaneBank planes_;
    ColorBank colors_;
    LoadedBmp file_;
    GrayHeader gray_;
    std::string path_;

    int imageWidth_ = 0;
    int imageHeight_ = 0;
    int renderPending_ = -1;
    int currentPlane_ = 0;
    int ringSize_ = kRingSize;
    int zoom_ = 100;
    int state_ = kStateNoImage;
    History history_;
    ImagePool pool_;
    int previewSource_ = 0;
    std::string maskInBank_;  // the mask file the transform bank holds, empty when none
    std::string labelingResultPath_;
    LabelOutcome lastLabeling_;
    ConvolutionKernel kernel_;
    FftBank fft_;
    std::function<bool(bool)> cameraHook_;
    bool cameraOn_ = false;
    long long previewStartMs_ = 0;
    ProfileLine profileLine_;
    ProfileLine profileEnds_;
    std::vector<ProfileRow> profileRows_;
    bool profileSampled_ = false;

    struct PoolDialogState {
        int startPlane = 0;
        bool targetDone = false;
        bool buttonsDisabled = false;
        int targetId = 0;
        int targetState = 0;
    } poolDialog_;
};

template <typename P>
void CLumadriftDoc::RecordParams(int code, const P& params)
{
    const OperationRow* row = FindOperation(code);
    Record(code, row && row->params ? FormatParameterLine(*row->params, &params) : std::string());
}

}  // namespace lumadrift
