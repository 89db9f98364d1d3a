#include "commands/operation_table.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/replay.h"
#include "core/c_number.h"
#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {

namespace {

bool MapPath(const ReplayContext& ctx, PathPolicy::Kind kind, int id, std::string& path)
{
    return !ctx.paths || ctx.paths->Map(kind, id, path);
}

// ---- replay entries: the parsed line handed to the document ----

template <void (CLumadriftDoc::*Entry)()>
int Plain(CLumadriftDoc& doc, const OperationRow&, const Words&, const ReplayContext&)
{
    (doc.*Entry)();
    return 0;
}

template <int (CLumadriftDoc::*Entry)()>
int PlainChecked(CLumadriftDoc& doc, const OperationRow&, const Words&, const ReplayContext&)
{
    return (doc.*Entry)();
}

template <typename P, int (CLumadriftDoc::*Entry)(const P&)>
int WithFields(CLumadriftDoc& doc, const OperationRow& row, const Words& w, const ReplayContext& ctx)
{
    P p;
    if (!ParseParameterLine(*row.params, w, ctx.baseDir, &p))
        return -1;
    return (doc.*Entry)(p) == 0 ? static_cast<int>(row.params->LineFieldCount()) : -1;
}

template <BitOp Op>
int InterImage(CLumadriftDoc& doc, const OperationRow& row, const Words& w, const ReplayContext& ctx)
{
    InterImageParams p;
    if (!ParseParameterLine(*row.params, w, ctx.baseDir, &p))
        return -1;
    return doc.InterImage(Op, p) == 0 ? 2 : -1;
}

int Open(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    std::string path;
    if (!w.Path(0, ctx.baseDir, path) || !MapPath(ctx, PathPolicy::kOpenImage, 0, path) ||
        !FileExists(path))
        return -1;
    return doc.OpenDocument(path) == BmpError::kNone ? 1 : -1;
}

int Save(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    std::string path;
    if (!w.Path(0, ctx.baseDir, path) || !MapPath(ctx, PathPolicy::kSaveImage, 0, path))
        return -1;
    return doc.SaveAs(path) == 0 ? 1 : -1;
}

int Capture(CLumadriftDoc& doc, const OperationRow&, const Words&, const ReplayContext&)
{
    // Its wait was a replayed sleep line.
    return doc.CaptureCamera(true);
}

int Pool(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    int action = 0, id = 0;
    std::string text;
    if (!w.Has(3) || !w.Int(0, action) || !w.Int(1, id) || !w.Text(2, text))
        return -1;
    if (action == 3) {
        // The text of a save is a file: relative paths follow the macro.
        if (text.empty())
            return -1;
        text = ResolveAgainst(ctx.baseDir, text);
        if (!MapPath(ctx, PathPolicy::kPoolFile, id, text))
            return -1;
    }
    return doc.ReplayPool(action, id, text) == 0 ? 3 : -1;
}

int Profile(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    int id = 0;
    if (!w.Has(1) || !w.Int(0, id))
        return -1;
    if (id != 2)
        return doc.ReplayProfile(id, 0, 0, 0, 0, {}) == 0 ? 1 : -1;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string path;
    if (!w.Has(6) || !w.Int(1, x1) || !w.Int(2, y1) || !w.Int(3, x2) || !w.Int(4, y2) ||
        !w.Path(5, ctx.baseDir, path) || !MapPath(ctx, PathPolicy::kProfileFile, 2, path))
        return -1;
    return doc.ReplayProfile(2, x1, y1, x2, y2, path) == 0 ? 6 : -1;
}

int Fft(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    FftParams p;
    if (!w.Has(1) || !w.Int(0, p.shape) || p.shape < kFftMaskSquare || p.shape > kFftMaskUser)
        return -1;
    if (p.shape == kFftMaskUser) {
        if (!w.Has(2) || !w.Path(1, ctx.baseDir, p.maskFile))
            return -1;
        return doc.Fft(p) == 0 ? 2 : -1;
    }
    if (!w.Has(3) || !w.Real(1, p.low) || !w.Real(2, p.high))
        return -1;
    return doc.Fft(p) == 0 ? 3 : -1;
}

int Label(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    std::string path;
    if (!w.Has(1) || !w.Text(0, path))
        return -1;
    // A recorded labeling whose results were never saved carries no file.
    if (!path.empty()) {
        path = ResolveAgainst(ctx.baseDir, path);
        if (!MapPath(ctx, PathPolicy::kLabelFile, 0, path))
            return -1;
    }
    return doc.ReplayLabel(path) == 0 ? 1 : -1;
}

int Convolution(CLumadriftDoc& doc, const OperationRow&, const Words& w, const ReplayContext& ctx)
{
    ConvolutionParams p;
    if (!w.Has(1) || !w.Int(0, p.mode))
        return -1;
    if (p.mode == 0) {
        p.values.clear();
        if (!w.Has(2) || !w.Path(1, ctx.baseDir, p.kernelFile) || !FileExists(p.kernelFile))
            return -1;
        return doc.ConvolveImage(p, true) == 0 ? 2 : -1;
    }
    if (p.mode != 3 && p.mode != 5)
        return -1;
    const size_t n = static_cast<size_t>(p.mode) * p.mode;
    if (!w.Has(n + 1))
        return -1;
    p.values.assign(n, 0.0);
    for (size_t i = 0; i < n; ++i)
        if (!w.Real(i + 1, p.values[i]))
            return -1;
    return doc.ConvolveImage(p, true) == 0 ? static_cast<int>(n + 1) : -1;
}

constexpr StateSet kGray{kStateGray};
constexpr StateSet kBinary{kStateBinary};
constexpr StateSet kPoolStates{kStateGray, kStateBinary, kStateLabeled};

using D = CLumadriftDoc;

// In code order. Codes 24..50, 53 and 54 are not operations.
const std::vector<OperationRow> kOperations = {
    {kOpBinarize, "2値化", {kStateGray, kStateLabeled}, Needs::kNothing, kStateBinary, true,
     &kBinarizeFields, WithFields<BinarizeParams, &D::Binarize>},
    {kOpDilate, "膨張", kBinary, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::DilateImage>},
    {kOpErode, "収縮", kBinary, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::ErodeImage>},
    {kOpLabel, "ラベリング", kBinary, Needs::kNothing, kStateLabeled, true, nullptr, Label},
    {kOpThin, "細線化", kBinary, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::ThinImage>},
    {kOpContrast, "コントラスト", kGray, Needs::kNothing, kStateUnchanged, true, &kContrastFields,
     WithFields<ContrastParams, &D::ContrastImage>},
    {kOpGamma, "ガンマ補正", kGray, Needs::kNothing, kStateUnchanged, true, &kGammaFields,
     WithFields<GammaParams, &D::GammaImage>},
    {kOpEqualize, "階調イコライゼーション", kGray, Needs::kNothing, kStateUnchanged, false, nullptr,
     Plain<&D::EqualizeImage>},
    {kOpMovingAverage, "移動平均", kGray, Needs::kNothing, kStateUnchanged, true, &kMovingAverageFields,
     WithFields<KernelSizeParams, &D::MovingAverageImage>},
    {kOpMedian, "メディアン", kGray, Needs::kNothing, kStateUnchanged, true, &kMedianFields,
     WithFields<KernelSizeParams, &D::MedianImage>},
    {kOpRoberts, "Roberts", kGray, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::RobertsImage>},
    {kOpSobel, "Solbel", kGray, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::SobelImage>},
    {kOpPrewitt, "Prewitt", kGray, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::PrewittImage>},
    {kOpLaplacian, "ラプラシアン", kGray, Needs::kNothing, kStateUnchanged, false, nullptr,
     Plain<&D::LaplacianImage>},
    {kOpSmooth, "スムース化", kGray, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::SmoothImage>},
    {kOpSharpen, "シャープ化", kGray, Needs::kNothing, kStateUnchanged, false, nullptr, Plain<&D::SharpenImage>},
    {kOpConvolution, "コンボリューション", kGray, Needs::kNothing, kStateUnchanged, true, nullptr, Convolution},
    {kOpAffine, "アフィン変換", kGray, Needs::kNothing, kStateUnchanged, true, &kAffineFields,
     WithFields<AffineParams, &D::AffineImage>},
    {kOpFft, "FFT処理", kGray, Needs::kNothing, kStateUnchanged, true, nullptr, Fft},
    {kOpRank, "ランク指定", kGray, Needs::kNothing, kStateUnchanged, true, &kRankFields,
     WithFields<RankParams, &D::RankImage>},
    {kOpPoolAnd, "画像間AND演算", kPoolStates, Needs::kNothing, kStateUnchanged, true, &kInterImageFields,
     InterImage<BitOp::kAnd>},
    {kOpPoolOr, "画像間OR演算", kPoolStates, Needs::kNothing, kStateUnchanged, true, &kInterImageFields,
     InterImage<BitOp::kOr>},
    {kOpPoolXor, "画像間XOR演算", kPoolStates, Needs::kNothing, kStateUnchanged, true, &kInterImageFields,
     InterImage<BitOp::kXor>},
    {kOpOpenFile, "ファイルを開く", StateSet::All(), Needs::kNothing, kStateColor, true, &kFileFields, Open},
    {kOpSaveFile, "ファイルの保存", AllBut({kStateNoImage}), Needs::kNothing, kStateUnchanged, true,
     &kFileFields, Save},
    {kOpAcquire, "画像処理範囲取得", {kStateColor, kStateRangeEdit}, Needs::kNothing, kStateGray, true,
     &kAcquireFields, WithFields<AcquireParams, &D::Acquire>},
    {kOpShowSource, "元画像表示", kPoolStates, Needs::kNothing, kStateColor, false, nullptr,
     Plain<&D::ShowSourcePicture>},
    {kOpPool, "画像プール", kPoolStates, Needs::kNothing, kStateUnchanged, true, nullptr, Pool},
    {kOpProfile, "濃度プロファイル", {kStateGray, kStateProfile}, Needs::kNothing, kStateUnchanged, true,
     nullptr, Profile},
    {kOpPreview, "プレビュー", StateSet::All(), Needs::kNothing, kStateUnchanged, false, nullptr,
     PlainChecked<&D::ReplayPreview>},
    {kOpCapture, "キャプチャー", {kStateCamera}, Needs::kNothing, kStateColor, false, nullptr, Capture},
    {kOpUndo, "元に戻す", StateSet::All(), Needs::kUndoStep, kStateUnchanged, false, nullptr,
     PlainChecked<&D::Undo>},
    {kOpRedo, "やり直し", StateSet::All(), Needs::kRedoStep, kStateUnchanged, false, nullptr,
     PlainChecked<&D::Redo>},
    {kOpSleep, "スリープ", StateSet::All(), Needs::kNothing, kStateUnchanged, true, &kSleepFields,
     WithFields<SleepParams, &D::Sleep>},
};

int TruncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

}  // namespace

const std::vector<OperationRow>& OperationTable() { return kOperations; }

const OperationRow* FindOperation(int code)
{
    for (const OperationRow& r : kOperations)
        if (r.code == code)
            return &r;
    return nullptr;
}

int CheckOperation(int code, int state, bool undoAvailable, bool redoAvailable)
{
    const OperationRow* row = FindOperation(code);
    if (!row)
        return -9;
    bool ok = row->runsIn.Has(state);
    if (row->needs == Needs::kUndoStep)
        ok = ok && undoAvailable;
    else if (row->needs == Needs::kRedoStep)
        ok = ok && redoAvailable;
    return ok ? 0 : -1;
}

int RunWithoutParameters(CLumadriftDoc& doc, int code)
{
    const OperationRow* row = FindOperation(code);
    if (!row || row->parameterLine || !row->replay)
        return -1;
    return row->replay(doc, *row, Words({}), ReplayContext{});
}

Words::Words(const std::string& params) : words_(SplitWords(params)) {}

bool Words::Int(size_t i, int& out) const
{
    if (i >= words_.size() || words_[i].size() > kMaxNumberWord)
        return false;
    out = ParseIntValue(WordValue(words_[i]));
    return true;
}

bool Words::Real(size_t i, double& out) const
{
    if (i >= words_.size() || words_[i].size() > kMaxNumberWord)
        return false;
    out = ParseRealValue(WordValue(words_[i]));
    return true;
}

bool Words::Text(size_t i, std::string& out) const
{
    if (i >= words_.size())
        return false;
    const std::string value = WordValue(words_[i]);
    if (value.size() > kMaxPathValue)
        return false;
    out = Cp932ToUtf8(value);
    return true;
}

bool Words::Path(size_t i, const std::string& base, std::string& out) const
{
    if (i >= words_.size())
        return false;
    const std::string value = WordValue(words_[i]);
    if (value.empty() || value.size() > kMaxPathValue)
        return false;
    out = ResolveAgainst(base, Cp932ToUtf8(value));
    return true;
}

std::string FormatParameterLine(const ParamSet& fields, const void* params)
{
    void* p = const_cast<void*>(params);  // the references are only read here
    std::string text;
    for (const ParamField& f : fields) {
        if (!f.label)
            continue;
        if (!text.empty())
            text += ' ';
        text += f.label;
        text += '=';
        switch (f.type) {
        case FieldType::kInt: text += std::to_string(*static_cast<int*>(f.ref(p))); break;
        case FieldType::kColor: text += std::to_string(static_cast<int>(*static_cast<uint32_t*>(f.ref(p)))); break;
        case FieldType::kReal: text += FormatReal(*static_cast<double*>(f.ref(p)), f.lineDecimals); break;
        case FieldType::kText:
        case FieldType::kPath: text += *static_cast<std::string*>(f.ref(p)); break;
        case FieldType::kKernel: break;
        }
    }
    return text;
}

bool ParseParameterLine(const ParamSet& fields, const Words& words, const std::string& baseDir,
                        void* params)
{
    if (!words.Has(fields.LineFieldCount()))
        return false;
    size_t i = 0;
    for (const ParamField& f : fields) {
        if (!f.label)
            continue;
        bool ok = false;
        switch (f.type) {
        case FieldType::kInt: ok = words.Int(i, *static_cast<int*>(f.ref(params))); break;
        case FieldType::kReal: ok = words.Real(i, *static_cast<double*>(f.ref(params))); break;
        case FieldType::kText: ok = words.Text(i, *static_cast<std::string*>(f.ref(params))); break;
        case FieldType::kPath: ok = words.Path(i, baseDir, *static_cast<std::string*>(f.ref(params))); break;
        case FieldType::kColor:
        case FieldType::kKernel: ok = false; break;
        }
        if (!ok)
            return false;
        ++i;
    }
    return true;
}

std::string ConvolutionParameterText(const ConvolutionParams& p, bool replayed)
{
    std::string text = "モード=" + std::to_string(p.mode) + " ";
    if (p.mode == 0)
        return text + "ファイル=" + p.kernelFile;
    if (p.mode != 3 && p.mode != 5)
        return text;
    for (int r = 1; r <= p.mode; ++r) {
        for (int c = 1; c <= p.mode; ++c) {
            const size_t i = static_cast<size_t>(r - 1) * p.mode + (c - 1);
            const double v = i < p.values.size() ? p.values[i] : 0.0;
            text += replayed ? FormatC(" %d-%d=%d", r, c, TruncateToInt(v))
                             : FormatC(" %d-%d=%0.1f", r, c, v);
        }
    }
    return text;
}

std::string FftParameterText(const FftParams& p)
{
    if (p.shape == kFftMaskUser)
        return "マスク=2 ファイル=" + p.maskFile;
    return "マスク=" + std::to_string(p.shape) + " 最小値=" + FormatReal(p.low, 2) + " 最大値=" +
           FormatReal(p.high, 2);
}

}  // namespace lumadrift
