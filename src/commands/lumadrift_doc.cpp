#include "commands/lumadrift_doc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include "commands/macro_format.h"
#include "core/acquisition.h"
#include "core/c_number.h"
#include "core/cp932.h"
#include "core/file_io.h"
#include "core/ini_file.h"
#include "core/memory.h"
#include "core/picture_file.h"
#include "core/work_progress.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/smoothing.h"

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

void CLumadriftDoc::NotifyHistory()
{
    if (observer_)
        observer_->OnHistoryChanged();
}

void CLumadriftDoc::ResetHistory()
{
    history_.Reset();
    NotifyHistory();
}

void CLumadriftDoc::Record(int code, const std::string& parameterText)
{
    // The recorded line is what the history shows for the step it made.
    if (history_.Describe(code, parameterText))
        NotifyHistory();
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

CommandContext CLumadriftDoc::CommandValues() const
{
    CommandContext c;
    c.state = state_;
    c.undoAvailable = undoAvailable();
    c.redoAvailable = redoAvailable();
    c.recording = IsRecording();
    c.cameraEnabled = settings_.cameraUse == 1;
    return c;
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
    pool_.DeleteAll();
    planes_.ReleasePlaneBank();
    colors_.ReleaseColorBank();
    NotifyImage();
}

BmpError CLumadriftDoc::OpenDocument(const std::string& path)
{
    LoadedBmp loaded;
    const BmpError err = ReadPictureFile(path, loaded);
    if (err != BmpError::kNone)
        return err;

    // An opened file ends a running camera preview.
    if (cameraOn_) {
        cameraOn_ = false;
        if (cameraHook_)
            cameraHook_(false);
    }
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
    // The planes of the picture before are kept for the acquisition that
    // usually follows at the same size; its file bytes are of no more use.
    KeepOnlyRecycled(static_cast<size_t>(imageWidth_) * static_cast<size_t>(imageHeight_));
    NotifyImage();
    RecordParams(kOpOpenFile, FileParams{path});
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
    if (WriteLoadedPicture(path, file_) != 0)
        return -1;
    RecordParams(kOpSaveFile, FileParams{path});
    return 0;
}

int CLumadriftDoc::WriteGrayFile(const std::string& path)
{
    const uint8_t* plane = planes_.GetPlane(currentPlane_);
    if (!plane)
        return -1;
    if (WriteGrayPicture(path, plane, planes_.width(), planes_.height()) != 0)
        return -1;
    RecordParams(kOpSaveFile, FileParams{path});
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
    ReleaseRecycledBuffers();
    NotifyImage();
    Record(kOpShowSource);
}

void CLumadriftDoc::AdvancePlaneRing()
{
    AdvancePlaneRingFrom(currentPlane_);
}

void CLumadriftDoc::AdvancePlaneRingFrom(int plane)
{
    const int next = NextRingPlane(plane, ringSize_);
    planes_.SelectPlanes(plane, next);
    currentPlane_ = next;
    renderPending_ = next;
}

void CLumadriftDoc::PushHistory(int code)
{
    history_.Push(currentPlane_, state_, ringSize_, code);
    NotifyHistory();
}

void CLumadriftDoc::Redraw()
{
    renderPending_ = currentPlane_;
    NotifyImage();
}

void CLumadriftDoc::RunGrayOperation(int code, const std::string& params, const PlaneFilter& filter)
{
    const int from = currentPlane_;
    const int fromState = state_;
    AdvancePlaneRing();
    const OperationRow* row = FindOperation(code);
    if (row && row->leaves != kStateUnchanged)
        state_ = row->leaves;
    PushHistory(code);
    try {
        if (filter)
            filter(planes_);
    } catch (const std::bad_alloc&) {
        // Not enough memory for the filter's working space: the picture
        // stays as it was. The half-written step becomes a copy of it and
        // the history steps back, so neither the view nor a redo shows a
        // partial result; the caller says why.
        const uint8_t* was = planes_.GetPlane(from);
        uint8_t* step = planes_.GetPlane(currentPlane_);
        if (was && step && was != step)
            std::memcpy(step, was, static_cast<size_t>(planes_.width()) * static_cast<size_t>(planes_.height()));
        History::Entry e;
        history_.Step(-1, e);
        currentPlane_ = from;
        state_ = fromState;
        Redraw();
        NotifyHistory();
        throw;
    }
    Redraw();
    Record(code, params);
}

void CLumadriftDoc::BeginPreview()
{
    previewSource_ = currentPlane_;
}

void CLumadriftDoc::RunPreview(const PlaneFilter& filter)
{
    // Previews run from a dialog's own event loop, apart from the command
    // that opened it.
    WorkScope work;
    AdvancePlaneRingFrom(previewSource_);
    if (filter)
        filter(planes_);
    Redraw();
}

GrayHistogram CLumadriftDoc::PlaneHistogram(int plane) const
{
    const uint8_t* p = planes_.GetPlane(plane);
    if (!p)
        return GrayHistogram{};
    return HistogramOf(p, planes_.width(), 0, 0, planes_.width(), planes_.height());
}

GrayHistogram CLumadriftDoc::PreviewSourceHistogram() const { return PlaneHistogram(previewSource_); }
GrayHistogram CLumadriftDoc::CurrentHistogram() const { return PlaneHistogram(currentPlane_); }

// --- processing range ------------------------------------------------------------

int CLumadriftDoc::ToggleRangeEdit()
{
    if (state_ != kStateColor && state_ != kStateRangeEdit)
        return -1;
    state_ = state_ == kStateColor ? kStateRangeEdit : kStateColor;
    return 0;
}

// --- acquisition -------------------------------------------------------------

AcquireParams CLumadriftDoc::AcquireInRange(int channel, int invert, double baseAngle) const
{
    const ProcessingRange& r = settings_.range;
    return {channel, invert, baseAngle, r.left, r.top, r.right, r.bottom};
}

int CLumadriftDoc::Acquire(const AcquireParams& p)
{
    const ProcessingRange r = Normalized({p.left, p.top, p.right, p.bottom});
    if (!(r == settings_.range))
        setRange(r);
    return AcquireCore(p.channel, p.invert, p.baseAngle);
}

int CLumadriftDoc::AcquireCore(int channel, int invert, double baseAngle)
{
    const ProcessingRange r = settings_.range;
    if (!hasFile() || !IsInsideImage(r, imageWidth_, imageHeight_) || channel < 0 || channel > 5)
        return -1;
    const int w = r.width();
    const int h = r.height();
    // A one-slot colour bank of the whole picture's size holds the whole
    // picture decoded (after an open, a camera frame or an acquisition of
    // everything): a range covering the picture takes it as it is instead
    // of decoding the file again.
    const bool decoded = colors_.count() == 1 && colors_.width() == file_.info.width &&
                         colors_.height() == file_.info.height && w == file_.info.width &&
                         h == file_.info.height;
    planes_.ReleasePlaneBank();
    if (!decoded)
        colors_.ReleaseColorBank();
    ringSize_ = kRingSize;
    if (planes_.CreatePlaneBank(kRingSize, w, h) != 0 || (!decoded && colors_.CreateColorBank(1, w, h) != 0)) {
        // Out of memory: go back to the whole colour picture.
        planes_.ReleasePlaneBank();
        ShowSourcePicture();
        return -1;
    }
    colors_.SelectColorSlots(0, 0);
    uint8_t *red = nullptr, *green = nullptr, *blue = nullptr;
    colors_.GetColorPlanes(0, &red, &green, &blue);
    if (!decoded)
        DecodeDibToPlanes(red, green, blue, file_.pixels(), file_.pixelBytes(), file_.info,
                          file_.colorTable(), r.left, r.top, r.right, r.bottom);
    AcquireChannelPixels(red, green, blue, static_cast<size_t>(w) * static_cast<size_t>(h),
                         channel, invert != 0, baseAngle, planes_.GetPlane(0));
    MakeGrayHeader(w, h);
    renderPending_ = 0;
    currentPlane_ = 0;
    imageWidth_ = w;
    imageHeight_ = h;
    state_ = kStateGray;
    // Every bank is rebuilt: what is still kept would only sit beside them.
    ReleaseRecycledBuffers();
    // Entries of an earlier acquisition name planes of the bank just freed.
    ResetHistory();
    PushHistory(kOpAcquire);
    setZoom(100);
    Redraw();
    RecordParams(kOpAcquire, AcquireInRange(channel, invert, baseAngle));
    return 0;
}

// --- binarization, dilation, erosion, thinning ----------------------------------

void CLumadriftDoc::BeginBinarize()
{
    // A hand-edited settings file may hold thresholds outside 0..255; the
    // dialog's boxes could not show them, so they are clamped once here and
    // the first preview, the boxes and the stored values agree.
    BinarizeParams& s = settings_.binarize;
    s.min = std::clamp(s.min, 0, 255);
    s.max = std::clamp(s.max, 0, 255);
    BeginPreview();
    PreviewBinarize(s);
}

void CLumadriftDoc::PreviewBinarize(const BinarizeParams& p)
{
    RunPreview([p](PlaneBank& b) { lumadrift::Binarize(b, p); });
}

void CLumadriftDoc::CompleteBinarize(bool ok, const BinarizeParams& p)
{
    if (ok)
        settings_.binarize = p;
    else
        // Dismissed without OK: the step records the stored thresholds, so
        // their picture, not the last preview, becomes the result.
        PreviewBinarize(settings_.binarize);
    state_ = kStateBinary;
    PushHistory(kOpBinarize);
    RecordParams(kOpBinarize, settings_.binarize);
}

int CLumadriftDoc::Binarize(const BinarizeParams& p)
{
    // A replayed line runs with its values as they are.
    settings_.binarize = p;
    BeginPreview();
    CompleteBinarize(false, p);
    return 0;
}

void CLumadriftDoc::DilateImage() { RunGrayOperation(kOpDilate, {}, [](PlaneBank& b) { Dilate(b); }); }
void CLumadriftDoc::ErodeImage() { RunGrayOperation(kOpErode, {}, [](PlaneBank& b) { Erode(b); }); }
void CLumadriftDoc::ThinImage() { RunGrayOperation(kOpThin, {}, [](PlaneBank& b) { Thin(b); }); }

// --- density conversion and smoothing ---------------------------------------------

int CLumadriftDoc::ContrastImage(const ContrastParams& p)
{
    settings_.contrast = p;
    RunGrayOperation(kOpContrast, FormatParameterLine(kContrastFields, &p),
                     [p](PlaneBank& b) { Contrast(b, p.factor); });
    return 0;
}

int CLumadriftDoc::GammaImage(const GammaParams& p)
{
    if (!IsGammaAccepted(p.value))
        return -1;
    settings_.gamma = p;
    RunGrayOperation(kOpGamma, FormatParameterLine(kGammaFields, &p),
                     [p](PlaneBank& b) { GammaCorrect(b, p.value); });
    return 0;
}

void CLumadriftDoc::EqualizeImage()
{
    RunGrayOperation(kOpEqualize, {}, [](PlaneBank& b) { Equalize(b); });
}

int CLumadriftDoc::MovingAverageImage(const KernelSizeParams& params)
{
    KernelSizeParams p = params;
    if (CheckKernelSizes(p.x, p.y) != KernelCheck::kOk)
        return -1;
    settings_.movingAverage = p;
    RunGrayOperation(kOpMovingAverage, FormatParameterLine(kMovingAverageFields, &p),
                     [p](PlaneBank& b) { MovingAverage(b, p.x, p.y); });
    return 0;
}

int CLumadriftDoc::MedianImage(const KernelSizeParams& params)
{
    KernelSizeParams p = params;
    if (CheckKernelSizes(p.x, p.y) != KernelCheck::kOk)
        return -1;
    settings_.median = p;
    const int rank = MedianRank(p.x, p.y);
    RunGrayOperation(kOpMedian, FormatParameterLine(kMedianFields, &p),
                     [p, rank](PlaneBank& b) { RankFilter(b, p.x, p.y, rank); });
    return 0;
}

int CLumadriftDoc::RankImage(const RankParams& params)
{
    RankParams p = params;
    if (CheckRankKernel(p.x, p.y, p.rank) != KernelCheck::kOk)
        return -1;
    settings_.rank = p;
    RunGrayOperation(kOpRank, FormatParameterLine(kRankFields, &p),
                     [p](PlaneBank& b) { RankFilter(b, p.x, p.y, p.rank); });
    return 0;
}

// --- labeling ----------------------------------------------------------------

LabelOutcome CLumadriftDoc::BeginLabeling()
{
    state_ = kStateLabeled;
    AdvancePlaneRing();
    PushHistory(kOpLabel);
    lastLabeling_ = Label(planes_);
    Redraw();
    return lastLabeling_;
}

std::vector<LabelingRow> CLumadriftDoc::LabelingRows()
{
    return LabelingResultRows(planes_, lastLabeling_.count);
}

int CLumadriftDoc::SaveLabelingResult(const std::string& path)
{
    labelingResultPath_ = path;
    return WriteLabelingResultFile(path, LabelingRows());
}

void CLumadriftDoc::CompleteLabeling()
{
    Record(kOpLabel, "ファイル=" + labelingResultPath_);
}

int CLumadriftDoc::ReplayLabel(const std::string& path)
{
    labelingResultPath_ = path;
    BeginLabeling();
    const int rc = path.empty() ? 0 : WriteLabelingResultFile(path, LabelingRows());
    CompleteLabeling();
    return rc;
}

// --- derivatives and convolution ------------------------------------------------

void CLumadriftDoc::RobertsImage() { RunGrayOperation(kOpRoberts, {}, [](PlaneBank& b) { Roberts(b); }); }
void CLumadriftDoc::SobelImage() { RunGrayOperation(kOpSobel, {}, [](PlaneBank& b) { Sobel(b); }); }
void CLumadriftDoc::PrewittImage() { RunGrayOperation(kOpPrewitt, {}, [](PlaneBank& b) { Prewitt(b); }); }
void CLumadriftDoc::LaplacianImage()
{
    RunGrayOperation(kOpLaplacian, {}, [](PlaneBank& b) { Laplacian(b); });
}
void CLumadriftDoc::SmoothImage() { RunGrayOperation(kOpSmooth, {}, [](PlaneBank& b) { Smooth(b); }); }
void CLumadriftDoc::SharpenImage() { RunGrayOperation(kOpSharpen, {}, [](PlaneBank& b) { Sharpen(b); }); }

int CLumadriftDoc::ConvolveImage(const ConvolutionParams& params, bool replayed)
{
    ConvolutionKernel k;
    if (UserConvolutionKernel(params.mode, params.values, params.kernelFile, k) != 0)
        return -1;
    ConvolutionParams& c = settings_.convolution;
    c.mode = params.mode;
    c.m = k.cols;
    c.n = k.rows;
    if (c.mode == 0) {
        c.kernelFile = params.kernelFile;
        c.values.clear();
    } else {
        c.values = k.values;
    }
    kernel_ = k;
    ConvolutionParams line = c;
    line.kernelFile = params.kernelFile;
    RunGrayOperation(kOpConvolution, ConvolutionParameterText(line, replayed), [k](PlaneBank& b) {
        Convolve(b, k.cols, k.rows, k.values.data());
    });
    return 0;
}

// --- affine transformation --------------------------------------------------------

int CLumadriftDoc::AffineImage(const AffineParams& p)
{
    settings_.affine = p;
    RunGrayOperation(kOpAffine, FormatParameterLine(kAffineFields, &p),
                     [p](PlaneBank& b) { AffineTransform(b, p); });
    return 0;
}

// --- FFT band-pass -----------------------------------------------------------------

namespace {

bool ThreadCountAccepted(int t) { return t >= 1 && t <= 5; }

}  // namespace

int CLumadriftDoc::BeginFft()
{
    const int threads = settings_.fftThreads;
    if (!ThreadCountAccepted(threads))
        return -1;
    if (planes_.empty())
        return -2;
    fft_.ReleaseFftBank();
    maskInBank_.clear();
    if (fft_.CreateFftBank(2, planes_.width(), planes_.height()) != 0)
        return -2;
    const int plane = currentPlane_;
    BeginPreview();
    AdvancePlaneRingFrom(previewSource_);
    if (RunFftForward(planes_, fft_, threads) != 0) {
        fft_.ReleaseFftBank();
        currentPlane_ = plane;  // nothing has changed
        renderPending_ = -1;
        return -2;
    }
    fft_.SelectFftSlots(0, 1);
    return 0;
}

void CLumadriftDoc::PreviewFft(const FftParams& p)
{
    if (fft_.empty())
        return;
    WorkScope work;  // as RunPreview
    AdvancePlaneRingFrom(previewSource_);
    fft_.SelectFftSlots(0, 1);
    if (p.shape != kFftMaskUser)
        maskInBank_.clear();  // a square or circle overwrites the mask
    ApplyFftPassBand(fft_, p.low, p.high, p.shape);
    ShowSpectrum(planes_, fft_);
    Redraw();
}

bool CLumadriftDoc::MaskFileValid(const std::string& path)
{
    const bool ok =
        !fft_.empty() && !path.empty() && FileExists(path) && ReadMaskFile(fft_, path) == 0;
    // A failed read may have left part of a mask behind.
    maskInBank_ = ok ? path : std::string();
    return ok;
}

bool CLumadriftDoc::SetFftMaskFile(const std::string& path)
{
    const bool ok = MaskFileValid(path);
    settings_.fft.maskFile = ok ? path : std::string();
    return ok;
}

int CLumadriftDoc::SaveFftMask(const std::string& path)
{
    return WriteMaskFile(fft_, path);
}

void CLumadriftDoc::FinishFft(bool applyMask)
{
    if (applyMask) {
        fft_.SelectFftSlots(0, 1);
        ApplyFftPassBand(fft_, settings_.fft.low, settings_.fft.high, settings_.fft.shape);
    } else {
        // Without a mask the inverse runs on the forward result itself.
        fft_.SelectFftSlots(0, 0);
    }
    RunFftInverse(planes_, fft_, settings_.fftThreads);
    fft_.ReleaseFftBank();
    maskInBank_.clear();
    Redraw();
    Record(kOpFft, FftParameterText(settings_.fft));
}

int CLumadriftDoc::CompleteFft(bool ok, const FftParams& p)
{
    if (fft_.empty())
        return -1;
    if (ok) {
        FftParams& f = settings_.fft;
        f.shape = p.shape;
        f.low = p.low;
        f.high = p.high;
        if (p.shape == kFftMaskUser) {
            // The line's own path is kept even when the file is missing, so
            // the recorded line says what ran.
            f.low = 0.0;
            f.high = 1.0;
            f.maskFile = p.maskFile;
        } else {
            f.maskFile.clear();
        }
    }
    AdvancePlaneRingFrom(previewSource_);
    PushHistory(kOpFft);
    bool mask = true;
    if (settings_.fft.shape == kFftMaskUser && maskInBank_ != settings_.fft.maskFile)
        mask = MaskFileValid(settings_.fft.maskFile);
    FinishFft(mask);
    return mask ? 0 : -1;
}

int CLumadriftDoc::Fft(const FftParams& p)
{
    if (p.shape < kFftMaskSquare || p.shape > kFftMaskUser || BeginFft() != 0)
        return -1;
    return CompleteFft(true, p);
}

// --- density profile ------------------------------------------------------------

int CLumadriftDoc::ToggleProfile()
{
    if (state_ != kStateGray && state_ != kStateProfile)
        return -1;
    const bool entering = state_ == kStateGray;
    state_ = entering ? kStateProfile : kStateGray;
    profileRows_.clear();
    profileSampled_ = false;
    // Until a line is sampled a save records a one-point line, whose replay
    // leaves the (empty) table as it is.
    profileLine_ = ProfileLine{};
    profileEnds_ = ProfileLine{};
    Redraw();
    if (observer_)
        observer_->OnProfileChanged();
    Record(kOpProfile, entering ? "ID=1" : "ID=0");
    return 0;
}

void CLumadriftDoc::ClearProfile()
{
    profileSampled_ = false;
}

int CLumadriftDoc::ComputeProfile(int x1, int y1, int x2, int y2)
{
    const uint8_t* plane = planes_.GetPlane(currentPlane_);
    const int width = planes_.width();
    if (!plane || (x1 == x2 && y1 == y2))
        return 0;
    profileLine_ = {x1, y1, x2, y2};
    int orientation = 0;
    double slope = 0.0;
    if (x1 != x2) {
        slope = static_cast<double>(y2 - y1) / static_cast<double>(x2 - x1);
        if (std::fabs(slope) > 1.0)
            orientation = 1;
    } else {
        orientation = 1;
    }
    settings_.profileOrientation = orientation;
    profileRows_.clear();
    if (orientation == 0) {
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int n = x2 - x1;
        for (int i = 0; i < n; ++i) {
            const int r = slope == 0.0 ? y1 : static_cast<int>(i * slope + y1 + 0.5);
            profileRows_.push_back({x1 + i, r, plane[static_cast<size_t>(r) * width + x1 + i]});
        }
    } else {
        const double s = static_cast<double>(x2 - x1) / static_cast<double>(y2 - y1);
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        const int n = y2 - y1;
        for (int i = 0; i < n; ++i) {
            const int c = s == 0.0 ? x1 : static_cast<int>(i * s + x1 + 0.5);
            profileRows_.push_back({c, y1 + i, plane[static_cast<size_t>(y1 + i) * width + c]});
        }
    }
    profileEnds_ = {x1, y1, x2, y2};
    profileSampled_ = true;
    Redraw();
    if (observer_)
        observer_->OnProfileChanged();
    return static_cast<int>(profileRows_.size());
}

std::vector<std::pair<int, int>> CLumadriftDoc::ProfileSamples() const
{
    std::vector<std::pair<int, int>> pairs;
    if (!profileSampled_)
        return pairs;
    for (size_t i = 0; i < profileRows_.size(); ++i) {
        const int v = profileRows_[i].value;
        if (settings_.profileOrientation == 0)
            pairs.emplace_back(static_cast<int>(i), 255 - v);
        else
            pairs.emplace_back(v, static_cast<int>(i));
    }
    return pairs;
}

int CLumadriftDoc::WriteProfileFile(const std::string& path)
{
    std::string text = Utf8ToCp932("No.\t座標\t濃度値") + "\r\n";
    for (size_t i = 0; i < profileRows_.size(); ++i) {
        const ProfileRow& r = profileRows_[i];
        text += std::to_string(i + 1) + "\t(" + std::to_string(r.x) + ", " + std::to_string(r.y) +
                ")\t" + std::to_string(r.value) + "\r\n";
    }
    if (WriteFileWhole(path, text.data(), text.size()) != 0)
        return -1;
    const ProfileLine& e = profileEnds_;
    Record(kOpProfile, "ID=2 始点X=" + std::to_string(e.x1) + " 始点Y=" + std::to_string(e.y1) +
                           " 終点X=" + std::to_string(e.x2) + " 終点Y=" + std::to_string(e.y2) +
                           " ファイル=" + path);
    return 0;
}

int CLumadriftDoc::ReplayProfile(int id, int x1, int y1, int x2, int y2, const std::string& path)
{
    switch (id) {
    case 1:
        return state_ == kStateGray ? ToggleProfile() : -1;
    case 0:
        return state_ == kStateProfile ? ToggleProfile() : -1;
    case 2: {
        if (state_ != kStateProfile || path.empty())
            return -1;
        // Clipped onto the image as a line drawn with the mouse is.
        const int w = planes_.width(), h = planes_.height();
        auto clampX = [w](int v) { return v < 0 ? 0 : v > w - 1 ? w - 1 : v; };
        auto clampY = [h](int v) { return v < 0 ? 0 : v > h - 1 ? h - 1 : v; };
        ComputeProfile(clampX(x1), clampY(y1), clampX(x2), clampY(y2));
        return WriteProfileFile(path);
    }
    default:
        return 0;
    }
}

// --- camera ---------------------------------------------------------------------

namespace {

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void CLumadriftDoc::StartCameraPreview()
{
    path_.clear();
    ReleaseImage();
    setZoom(100);
    cameraOn_ = true;
    if (observer_)
        observer_->OnTitleChanged();
    previewStartMs_ = NowMs();
    Record(kOpPreview);
}

void CLumadriftDoc::StopCameraPreview()
{
    ReleaseImage();
    cameraOn_ = false;
    previewStartMs_ = NowMs();
    Record(kOpPreview);
}

int CLumadriftDoc::SetCameraFrame(const uint8_t* bgr, int width, int height, int stride)
{
    if (!bgr || width <= 0 || height <= 0 || width > 32767 || height > 32767 || stride < 3 * width)
        return -1;
    // The frame becomes a plain 24-bit file, as if it had been opened.
    std::vector<uint8_t> file = BuildBmp24(bgr, width, height, static_cast<size_t>(stride));
    LoadedBmp frame;
    if (ParseBmp(file.data(), file.size(), frame) != BmpError::kNone)
        return -1;
    ReleaseImage();
    file_ = std::move(frame);
    imageWidth_ = width;
    imageHeight_ = height;
    if (colors_.CreateColorBank(1, width, height) != 0) {
        ReleaseImage();
        return -1;
    }
    colors_.SelectColorSlots(0, 0);
    uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    colors_.GetColorPlanes(0, &r, &g, &b);
    DecodeDibToPlanes(r, g, b, file_.pixels(), file_.pixelBytes(), file_.info, file_.colorTable(),
                      0, 0, width - 1, height - 1);
    state_ = kStateCamera;
    renderPending_ = 0;
    NotifyImage();
    // As after opening a file, the side panel shows the range.
    if (observer_)
        observer_->OnRangeChanged();
    return 0;
}

int CLumadriftDoc::CaptureCamera(bool replayed)
{
    if (state_ != kStateCamera)
        return -1;
    if (cameraHook_)
        cameraHook_(false);
    cameraOn_ = false;
    renderPending_ = 0;
    state_ = kStateColor;
    NotifyImage();
    if (!replayed)
        RecordParams(kOpSleep, SleepParams{static_cast<int>(NowMs() - previewStartMs_)});
    Record(kOpCapture);
    return 0;
}

int CLumadriftDoc::ReplayPreview()
{
    if (!cameraHook_)
        return -1;
    const bool on = !cameraOn_;
    if (on)
        StartCameraPreview();
    else
        StopCameraPreview();
    if (!cameraHook_(on)) {
        cameraOn_ = false;
        return -1;
    }
    return 0;
}

// --- undo and redo -----------------------------------------------------------

int CLumadriftDoc::Undo()
{
    History::Entry e;
    if (!history_.Step(-1, e))
        return -1;
    currentPlane_ = e.plane;
    state_ = e.state;
    Redraw();
    NotifyHistory();
    Record(kOpUndo);
    return 0;
}

int CLumadriftDoc::Redo()
{
    History::Entry e;
    if (!history_.Step(+1, e))
        return -1;
    currentPlane_ = e.plane;
    state_ = e.state;
    Redraw();
    NotifyHistory();
    Record(kOpRedo);
    return 0;
}

// --- image pool --------------------------------------------------------------

namespace {

std::string PoolLine(const char* action, int cd, const std::string& id, const std::string& text)
{
    return std::string(action) + "=" + std::to_string(cd) + " ID=" + id + " ファイル=" + text;
}

}  // namespace

bool CLumadriftDoc::PoolEntryFits(int id) const
{
    const PoolEntry* e = pool_.Find(id);
    return e && e->width() == gray_.width && e->height() == gray_.height;
}

void CLumadriftDoc::PoolAdd(const std::string& name)
{
    const uint8_t* plane = planes_.GetPlane(currentPlane_);
    if (!plane || planes_.width() != gray_.width || planes_.height() != gray_.height)
        return;
    pool_.Add(name, state_, gray_, plane);
}

void CLumadriftDoc::WritePoolEntryToDestination(const PoolEntry& e)
{
    // Stored rows are bottom-up: the first goes into the last row.
    for (int row = 0; row < e.height(); ++row) {
        int length = e.width();
        planes_.WriteRangeRow(e.height() - 1 - row,
                              e.pixels.data() + static_cast<size_t>(row) * e.width(), length);
    }
}

void CLumadriftDoc::PoolDialogOpen()
{
    poolDialog_ = PoolDialogState{};
    poolDialog_.startPlane = currentPlane_;
}

int CLumadriftDoc::PoolDialogAdd(const std::string& name)
{
    if (name.empty() || poolDialog_.buttonsDisabled)
        return -1;
    const std::string cut = CutPoolName(name);
    PoolAdd(cut);
    Record(kOpPool, PoolLine("追加CD", 1, "", cut));
    return 0;
}

int CLumadriftDoc::PoolDialogDelete(int row)
{
    if (poolDialog_.buttonsDisabled)
        return -1;
    const bool selected = row >= 0 && row < pool_.size();
    if (selected)
        pool_.Unlink(row);
    Record(kOpPool, PoolLine("削除CD", 2, std::to_string(selected ? row : pool_.size()), ""));
    return selected ? 0 : -1;
}

int CLumadriftDoc::PoolDialogSave(int row, const std::string& path)
{
    if (poolDialog_.buttonsDisabled)
        return -1;
    const bool selected = row >= 0 && row < pool_.size();
    int rc = -1;
    if (selected && !path.empty())
        rc = WritePoolFile(path, *pool_.Find(row));
    Record(kOpPool, PoolLine("保存CD", 3, std::to_string(selected ? row : pool_.size()), path));
    return rc;
}

void CLumadriftDoc::PoolDialogDeleteAll()
{
    if (poolDialog_.buttonsDisabled)
        return;
    pool_.DeleteAll();
    Record(kOpPool, PoolLine("全削除CD", 5, "", ""));
}

int CLumadriftDoc::PoolDialogToTarget(int row)
{
    if (row < 0 || row >= pool_.size()) {
        poolDialog_.buttonsDisabled = true;
        return -1;
    }
    if (!PoolEntryFits(row))
        return -1;
    const PoolEntry& e = *pool_.Find(row);
    // A second press in the same dialog overwrites the same ring plane.
    AdvancePlaneRingFrom(poolDialog_.startPlane);
    WritePoolEntryToDestination(e);
    Redraw();
    poolDialog_.targetDone = true;
    poolDialog_.targetId = row;
    poolDialog_.targetState = e.state;
    poolDialog_.buttonsDisabled = true;
    return 0;
}

void CLumadriftDoc::PoolDialogClose(bool ok)
{
    if (ok && poolDialog_.targetDone) {
        state_ = poolDialog_.targetState;
        PushHistory(kOpPool);
        Record(kOpPool, PoolLine("対象CD", 4, std::to_string(poolDialog_.targetId), ""));
    }
    poolDialog_ = PoolDialogState{};
}

int CLumadriftDoc::ReplayPool(int action, int id, const std::string& text)
{
    switch (action) {
    case 1:
        PoolAdd(text);
        Record(kOpPool, PoolLine("追加CD", 1, "", CutPoolName(text)));
        return 0;
    case 5:
        pool_.DeleteAll();
        Record(kOpPool, PoolLine("全削除CD", 5, "", text));
        return 0;
    case 2:
    case 3:
    case 4: {
        PoolEntry* e = pool_.Find(id);
        if (!e)
            return -1;
        if (action == 2) {
            pool_.Unlink(id);
            Record(kOpPool, PoolLine("削除CD", 2, std::to_string(id), text));
            return 0;
        }
        if (action == 3) {
            if (WritePoolFile(text, *e) != 0)
                return -1;
            Record(kOpPool, PoolLine("保存CD", 3, std::to_string(id), text));
            return 0;
        }
        if (!PoolEntryFits(id))
            return -1;
        AdvancePlaneRing();
        WritePoolEntryToDestination(*e);
        state_ = e->state;
        PushHistory(kOpPool);
        Redraw();
        Record(kOpPool, PoolLine("対象CD", 4, std::to_string(id), text));
        return 0;
    }
    default:
        return 0;
    }
}

// --- inter-image operations ----------------------------------------------------

int CLumadriftDoc::CheckOperands(int targetId, int referenceId) const
{
    return PoolEntryFits(targetId) && PoolEntryFits(referenceId) ? 0 : -1;
}

void CLumadriftDoc::LoadOperands(int code, int targetId, int referenceId)
{
    AdvancePlaneRing();
    if (const PoolEntry* ref = pool_.Find(referenceId)) {
        WritePoolEntryToDestination(*ref);
        state_ = ref->state;
        PushHistory(code);
    }
    // The reference's plane becomes the source of the combination.
    AdvancePlaneRing();
    if (const PoolEntry* target = pool_.Find(targetId)) {
        WritePoolEntryToDestination(*target);
        if (target->state != state_)
            state_ = kStateGray;
        PushHistory(code);
    }
}

int CLumadriftDoc::InterImage(BitOp op, const InterImageParams& p)
{
    if (CheckOperands(p.target, p.reference) != 0)
        return -1;
    const int code = op == BitOp::kAnd ? kOpPoolAnd : op == BitOp::kOr ? kOpPoolOr : kOpPoolXor;
    LoadOperands(code, p.target, p.reference);
    CombineRange(planes_, op);
    Redraw();
    RecordParams(code, p);
    return 0;
}

int CLumadriftDoc::Sleep(const SleepParams& p)
{
    if (p.milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(p.milliseconds));
    RecordParams(kOpSleep, p);
    return 0;
}

void CLumadriftDoc::MakeGrayHeader(int width, int height)
{
    gray_ = lumadrift::MakeGrayHeader(width, height);
}

}  // namespace lumadrift
