#include "app/param_fields.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "core/acquisition.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/derivative.h"
#include "filters/fft.h"
#include "filters/interimage.h"
#include "filters/smoothing.h"
#include "app/image_settings.h"

namespace lumadrift {

namespace {

template <typename V>
constexpr FieldType FieldTypeOf()
{
    if constexpr (std::is_same_v<V, int>)
        return FieldType::kInt;
    else if constexpr (std::is_same_v<V, double>)
        return FieldType::kReal;
    else if constexpr (std::is_same_v<V, uint32_t>)
        return FieldType::kColor;
    else {
        static_assert(std::is_same_v<V, std::string>, "a field is an int, a double, a colour or a text");
        return FieldType::kText;
    }
}

// One field; its type follows the member's.
#define LD_FIELD(Struct, member, label, key, lineDecimals, iniDecimals)                         \
    ParamField                                                                                  \
    {                                                                                           \
        label, key, FieldTypeOf<decltype(std::declval<Struct&>().member)>(), lineDecimals,      \
            iniDecimals, [](void* p) -> void* { return &static_cast<Struct*>(p)->member; }      \
    }
// A text field that names a file.
#define LD_PATH(Struct, member, label, key)                                                     \
    ParamField                                                                                  \
    {                                                                                           \
        label, key, FieldType::kPath, 0, 0,                                                     \
            [](void* p) -> void* { return &static_cast<Struct*>(p)->member; }                   \
    }

const ParamField kBinarize[] = {
    LD_FIELD(BinarizeParams, min, "最小値", "IMG_MINBINARY", 0, 0),
    LD_FIELD(BinarizeParams, max, "最大値", "IMG_MAXBINARY", 0, 0),
};
const ParamField kContrast[] = {LD_FIELD(ContrastParams, factor, "倍率", "IMG_CONTRAST", 2, 6)};
const ParamField kGamma[] = {LD_FIELD(GammaParams, value, "倍率", "IMG_GAMMA", 2, 6)};
const ParamField kMovingAverage[] = {
    LD_FIELD(KernelSizeParams, x, "Xサイズ", "IMG_AVEKNLX", 0, 0),
    LD_FIELD(KernelSizeParams, y, "Yサイズ", "IMG_AVEKNLY", 0, 0),
};
const ParamField kMedian[] = {
    LD_FIELD(KernelSizeParams, x, "Xサイズ", "IMG_MEDKNLX", 0, 0),
    LD_FIELD(KernelSizeParams, y, "Yサイズ", "IMG_MEDKNLY", 0, 0),
};
const ParamField kRank[] = {
    LD_FIELD(RankParams, x, "Xサイズ", "IMG_RANKKNLX", 0, 0),
    LD_FIELD(RankParams, y, "Yサイズ", "IMG_RANKKNLY", 0, 0),
    LD_FIELD(RankParams, rank, "ランク", "IMG_RANKVAL", 0, 0),
    LD_FIELD(RankParams, choice, "インデックス", "IMG_RANKIDX", 0, 0),
};
// IMG_CONVMODE must precede IMG_CONVVAL, whose form it decides.
const ParamField kConvolution[] = {
    LD_FIELD(ConvolutionParams, mode, nullptr, "IMG_CONVMODE", 0, 0),
    LD_FIELD(ConvolutionParams, m, nullptr, "IMG_CONVMN", 0, 0),
    LD_FIELD(ConvolutionParams, n, nullptr, "IMG_CONVMN", 0, 0),
    ParamField{nullptr, "IMG_CONVVAL", FieldType::kKernel, 0, 6, [](void* p) -> void* { return p; }},
};
const ParamField kAffine[] = {
    LD_FIELD(AffineParams, angle, "角度", "IMG_AFANGLE", 2, 1),
    LD_FIELD(AffineParams, centerX, "中心値X", "IMG_AFCENTER", 2, 1),
    LD_FIELD(AffineParams, centerY, "中心値Y", "IMG_AFCENTER", 2, 1),
    LD_FIELD(AffineParams, zoomX, "拡大率X", "IMG_AFZOOM", 2, 1),
    LD_FIELD(AffineParams, zoomY, "拡大率Y", "IMG_AFZOOM", 2, 1),
    LD_FIELD(AffineParams, shiftX, "移動量X", "IMG_AFPOS", 2, 1),
    LD_FIELD(AffineParams, shiftY, "移動量Y", "IMG_AFPOS", 2, 1),
};
const ParamField kFft[] = {
    LD_FIELD(FftParams, low, nullptr, "IMG_MINFFT", 2, 2),
    LD_FIELD(FftParams, high, nullptr, "IMG_MAXFFT", 2, 2),
    LD_FIELD(FftParams, shape, nullptr, "IMG_FFTMASK", 0, 0),
    LD_PATH(FftParams, maskFile, nullptr, "IMG_MASKFILE"),
};
const ParamField kAcquire[] = {
    LD_FIELD(AcquireParams, channel, "チャネル", nullptr, 0, 0),
    LD_FIELD(AcquireParams, invert, "反転", nullptr, 0, 0),
    LD_FIELD(AcquireParams, baseAngle, "彩度", nullptr, 2, 0),
    LD_FIELD(AcquireParams, left, "左座標", nullptr, 0, 0),
    LD_FIELD(AcquireParams, top, "上座標", nullptr, 0, 0),
    LD_FIELD(AcquireParams, right, "右座標", nullptr, 0, 0),
    LD_FIELD(AcquireParams, bottom, "下座標", nullptr, 0, 0),
};
const ParamField kInterImage[] = {
    LD_FIELD(InterImageParams, target, "対象ID", nullptr, 0, 0),
    LD_FIELD(InterImageParams, reference, "参照ID", nullptr, 0, 0),
};
const ParamField kFile[] = {LD_PATH(FileParams, path, "ファイル", nullptr)};
const ParamField kSleep[] = {LD_FIELD(SleepParams, milliseconds, "ミリ秒", nullptr, 0, 0)};

}  // namespace

size_t ParamSet::LineFieldCount() const
{
    size_t n = 0;
    for (const ParamField& f : *this)
        n += f.label != nullptr;
    return n;
}

const ParamSet kBinarizeFields = MakeParamSet<BinarizeParams>(kBinarize);
const ParamSet kContrastFields = MakeParamSet<ContrastParams>(kContrast);
const ParamSet kGammaFields = MakeParamSet<GammaParams>(kGamma);
const ParamSet kMovingAverageFields = MakeParamSet<KernelSizeParams>(kMovingAverage);
const ParamSet kMedianFields = MakeParamSet<KernelSizeParams>(kMedian);
const ParamSet kRankFields = MakeParamSet<RankParams>(kRank);
const ParamSet kConvolutionFields = MakeParamSet<ConvolutionParams>(kConvolution);
const ParamSet kAffineFields = MakeParamSet<AffineParams>(kAffine);
const ParamSet kFftFields = MakeParamSet<FftParams>(kFft);
const ParamSet kAcquireFields = MakeParamSet<AcquireParams>(kAcquire);
const ParamSet kInterImageFields = MakeParamSet<InterImageParams>(kInterImage);
const ParamSet kFileFields = MakeParamSet<FileParams>(kFile);
const ParamSet kSleepFields = MakeParamSet<SleepParams>(kSleep);

}  // namespace lumadrift
