#include "commands/lumadrift_doc.h"

#include "commands/macro_format.h"
#include "core/file_io.h"
#include "core/ini_file.h"

namespace lumadrift {

CLumadriftDoc::CLumadriftDoc(const DocEnvironment& env) : env_(env)
{
    if (env_.layoutState == 0) {
        if (env_.createDirectories)
            env_.dirs.CreateMissing();
        LoadSettings();
    }
}

CLumadriftDoc::~CLumadriftDoc()
{
    observer_ = nullptr;
    ReleaseImage();
    recorder_.Stop();
    SaveSettings();
}

void CLumadriftDoc::LoadSettings()
{
    if (env_.layoutState != 0 || !env_.loadSettings)
        return;
    settings_ = LoadImageSettings(IniFile(env_.dirs.iniPath));
}

void CLumadriftDoc::SaveSettings()
{
    if (env_.layoutState != 0 || !env_.saveSettings)
        return;
    IniFile ini(env_.dirs.iniPath);
    SaveImageSettings(ini, settings_);
}

void CLumadriftDoc::NotifyImage()
{
    if (observer_)
        observer_->OnImageChanged();
}

void CLumadriftDoc::ResetHistory()
{
    undoAvailable_ = false;
    redoAvailable_ = false;
    historyPosition_ = 0;
}

void CLumadriftDoc::Record(int code, const std::string& parameterText)
{
    if (recorder_.recording())
        recorder_.WriteEntry(code, parameterText);
}

void CLumadriftDoc::setZoom(int z)
{
    zoom_ = z;
    if (observer_)
        observer_->OnZoomChanged(z);
}

void CLumadriftDoc::setRange(const ProcessingRange& r)
{
    settings_.range = Normalized(r);
    if (observer_)
        observer_->OnRangeChanged();
}

std::string CLumadriftDoc::Title() const
{
    return path_.empty() ? std::string("無題") : BaseName(path_);
}

void CLumadriftDoc::ReleaseImage()
{
    file_ = LoadedBmp{};
    gray_ = GrayHeader{};
    renderPending_ = -1;
    currentPlane_ = 0;
    state_ = kStateNoImage;
    ResetHistory();
    planes_.ReleasePlaneBank();
    colors_.ReleaseColorBank();
    NotifyImage();
}

BmpError CLumadriftDoc::OpenDocument(const std::string& path)
{
    LoadedBmp loaded;
    const BmpError err = ReadBmpFile(path, loaded);
    if (err != BmpError::kNone)
        return err;

    ReleaseImage();
    file_ = std::move(loaded);
    path_ = path;
    imageWidth_ = file_.info.width;
    imageHeight_ = file_.info.height;
    if (observer_) {
        observer_->OnRangeChanged();
        observer_->OnTitleChanged();
    }

    if (colors_.CreateColorBank(1, imageWidth_, imageHeight_) != 0) {
        // Out of memory for the planes: nothing can be shown.
        ReleaseImage();
        return BmpError::kTooLarge;
    }
    colors_.SelectColorSlots(0, 0);
    uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    colors_.GetColorPlanes(0, &r, &g, &b);
    DecodeDibToPlanes(r, g, b, file_.pixels(), file_.pixelBytes(), file_.info, file_.colorTable(),
                      0, 0, imageWidth_ - 1, imageHeight_ - 1);
    renderPending_ = 0;
    state_ = kStateColor;
    NotifyImage();
    Record(kOpOpenFile, "ファイル=" + path);
    return BmpError::kNone;
}

int CLumadriftDoc::SaveDocument()
{
    if (path_.empty())
        return -1;
    return SaveAs(path_);
}

int CLumadriftDoc::SaveAs(const std::string& path)
{
    return ShowsGrayPlane(state_) ? WriteGrayFile(path) : WriteColorFile(path);
}

int CLumadriftDoc::WriteColorFile(const std::string& path)
{
    if (!hasFile())
        return -1;
    if (WriteFileWhole(path, BuildColorBmp(file_)) != 0)
        return -1;
    Record(kOpSaveFile, "ファイル=" + path);
    return 0;
}

int CLumadriftDoc::WriteGrayFile(const std::string& path)
{
    const uint8_t* plane = planes_.GetPlane(currentPlane_);
    if (!plane)
        return -1;
    if (WriteFileWhole(path, BuildGrayBmp(plane, planes_.width(), planes_.height())) != 0)
        return -1;
    Record(kOpSaveFile, "ファイル=" + path);
    return 0;
}

void CLumadriftDoc::ShowSourcePicture()
{
    if (!hasFile())
        return;
    currentPlane_ = 0;
    renderPending_ = 0;
    setZoom(100);
    state_ = kStateColor;
    ResetHistory();
    imageWidth_ = file_.info.width;
    imageHeight_ = file_.info.height;
    colors_.ReleaseColorBank();
    if (colors_.CreateColorBank(2, imageWidth_, imageHeight_) == 0) {
        colors_.SelectColorSlots(0, 1);
        uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
        colors_.GetColorPlanes(0, &r, &g, &b);
        DecodeDibToPlanes(r, g, b, file_.pixels(), file_.pixelBytes(), file_.info,
                          file_.colorTable(), 0, 0, imageWidth_ - 1, imageHeight_ - 1);
    }
    NotifyImage();
    Record(kOpShowSource);
}

void CLumadriftDoc::AdvancePlaneRing()
{
    const int next = NextRingPlane(currentPlane_, ringSize_);
    planes_.SelectPlanes(currentPlane_, next);
    currentPlane_ = next;
    renderPending_ = next;
}

void CLumadriftDoc::MakeGrayHeader(int width, int height)
{
    gray_ = lumadrift::MakeGrayHeader(width, height);
}

}  // namespace lumadrift
