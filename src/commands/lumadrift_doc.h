// The document: the loaded file, the working planes and everything the
// operations change. The GUI, the replay engine and the command-line tool
// all act through these entries, so every rule about state, planes and
// recording lives here. No Qt.
#pragma once

#include <cstdint>
#include <string>

#include "app/directories.h"
#include "app/image_settings.h"
#include "commands/macro_recorder.h"
#include "core/bmp.h"
#include "core/image_model.h"
#include "core/plane_bank.h"

namespace lumadrift {

// What the view is told; the document never draws.
class DocObserver {
public:
    virtual ~DocObserver() = default;
    // The picture on screen changed (RenderPending was set) or must repaint.
    virtual void OnImageChanged() {}
    virtual void OnZoomChanged(int /*zoom*/) {}
    virtual void OnRangeChanged() {}
    virtual void OnTitleChanged() {}
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

    // --- the working ring ------------------------------------------------
    // Selects (current, next) and makes next current and pending.
    void AdvancePlaneRing();
    void MakeGrayHeader(int width, int height);

    // --- recording --------------------------------------------------------
    bool StartRecording(const std::string& path) { return recorder_.Start(path); }
    void StopRecording() { recorder_.Stop(); }
    bool IsRecording() const { return recorder_.recording(); }
    // Appends an entry when recording (UTF-8 parameter text).
    void Record(int code, const std::string& parameterText = {});

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
    bool undoAvailable() const { return undoAvailable_; }
    bool redoAvailable() const { return redoAvailable_; }

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

    ProcessingRange range() const { return settings_.range; }
    void setRange(const ProcessingRange& r);

private:
    void NotifyImage();
    void ResetHistory();

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
    bool undoAvailable_ = false;
    bool redoAvailable_ = false;
    int historyPosition_ = 0;
};

}  // namespace lumadrift
