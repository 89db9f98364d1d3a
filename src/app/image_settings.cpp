#include "app/image_settings.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/directories.h"
#include "app/param_fields.h"
#include "core/c_number.h"
#include "core/cp932.h"
#include "core/ini_file.h"

namespace lumadrift {

namespace {

constexpr const char kImgSet[] = "IMGSET";
constexpr const char kCamera[] = "CAMERA";
constexpr const char kWindow[] = "WINDOW";

double ParseReal(const char* p, char** end) { return StrtodC(p, end); }

int ParseInt(const char* p, char** end)
{
    const long v = std::strtol(p, end, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// Reads up to values.size() numbers separated by single commas, the way a
// "%d,%d,..." scan does: blanks may precede a number but not a comma, and
// the first field that does not parse ends the scan. Fields after it keep
// what values held.
template <typename T>
void ScanList(const std::string& text, std::vector<T>& values, T (*parse)(const char*, char**))
{
    const char* p = text.c_str();
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            if (*p != ',')
                return;
            ++p;
        }
        char* end = nullptr;
        const T v = parse(p, &end);
        if (end == p)
            return;
        values[i] = v;
        p = end;
    }
}

// A path as kept in the settings: the CP932 form cut to the field's size,
// held as UTF-8.
std::string PathFromIni(const std::string& cp932) { return Cp932ToUtf8(TruncateCp932(cp932, kMaxSettingsPath)); }
std::string PathToIni(const std::string& utf8) { return TruncateCp932(Utf8ToCp932(utf8), kMaxSettingsPath); }

#define LD_MEMBER(member) [](ImageSettings& s) -> void* { return &s.member; }

const ParamField kView[] = {
    {nullptr, "IMG_RANGE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->range.left; }},
    {nullptr, "IMG_RANGE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->range.top; }},
    {nullptr, "IMG_RANGE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->range.right; }},
    {nullptr, "IMG_RANGE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->range.bottom; }},
    {nullptr, "IMG_MCOLOR", FieldType::kColor, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->mouseColor; }},
    {nullptr, "IMG_GCOLOR", FieldType::kColor, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->graphColor; }},
    {nullptr, "IMG_RCOLOR", FieldType::kColor, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->resultColor; }},
    {nullptr, "IMG_PROFILE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->profileOrientation; }},
};
const ParamField kFftThreads[] = {
    {nullptr, "IMG_FFTTHD", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->fftThreads; }},
};
const ParamField kCameraFields[] = {
    {nullptr, "CAMERA_USE", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->cameraUse; }},
    {nullptr, "CAMERA_WIDTH", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->cameraWidth; }},
    {nullptr, "CAMERA_HEIGHT", FieldType::kInt, 0, 0, [](void* p) -> void* { return &static_cast<ImageSettings*>(p)->cameraHeight; }},
};

const ParamSet kViewFields = MakeParamSet<ImageSettings>(kView);
const ParamSet kFftThreadFields = MakeParamSet<ImageSettings>(kFftThreads);
const ParamSet kCameraSet = MakeParamSet<ImageSettings>(kCameraFields);

void* Whole(ImageSettings& s) { return &s; }

const std::vector<SettingsGroup> kGroups = {
    {kImgSet, &kViewFields, Whole, true},
    {kImgSet, &kBinarizeFields, LD_MEMBER(binarize), true},
    {kImgSet, &kContrastFields, LD_MEMBER(contrast), true},
    {kImgSet, &kGammaFields, LD_MEMBER(gamma), true},
    {kImgSet, &kMovingAverageFields, LD_MEMBER(movingAverage), true},
    {kImgSet, &kMedianFields, LD_MEMBER(median), true},
    {kImgSet, &kRankFields, LD_MEMBER(rank), true},
    {kImgSet, &kConvolutionFields, LD_MEMBER(convolution), true},
    {kImgSet, &kAffineFields, LD_MEMBER(affine), true},
    {kImgSet, &kFftFields, LD_MEMBER(fft), true},
    {kImgSet, &kFftThreadFields, Whole, false},
    {kCamera, &kCameraSet, Whole, false},
};

// Coefficients held for a convolution mode; -1 when the mode keeps a kernel
// file path instead, 0 when it keeps nothing.
int KernelSize(int mode)
{
    if (mode == 0)
        return -1;
    if (mode == 3 || mode == 5)
        return mode * mode;
    return 0;
}

void LoadKernel(ConvolutionParams& c, const std::string& text)
{
    c.values.clear();
    c.kernelFile.clear();
    const int size = KernelSize(c.mode);
    if (size < 0) {
        c.kernelFile = PathFromIni(text.substr(0, text.find_first_of(" \t\n\v\f\r")));
        return;
    }
    // Coefficients the value does not supply are 0.0.
    std::vector<double> values(static_cast<size_t>(size), 0.0);
    ScanList(text, values, ParseReal);
    c.values = std::move(values);
}

bool FormatKernel(const ConvolutionParams& c, int decimals, std::string& out)
{
    const int size = KernelSize(c.mode);
    if (size < 0) {
        out = PathToIni(c.kernelFile);
        return true;
    }
    if (size == 0)
        return false;  // an unknown mode leaves the stored value alone
    for (size_t i = 0; i < static_cast<size_t>(size); ++i) {
        const double v = i < c.values.size() ? c.values[i] : 0.0;
        out += (i ? "," : "") + FormatReal(v, decimals);
    }
    return true;
}

// The fields of one key: from `first` while the key repeats.
size_t RunLength(const ParamField* first, const ParamField* end)
{
    size_t n = 1;
    while (first + n < end && first[n].iniKey && std::strcmp(first[n].iniKey, first->iniKey) == 0)
        ++n;
    return n;
}

template <typename T>
T& At(const ParamField& f, void* params)
{
    return *static_cast<T*>(f.ref(params));
}

// A comma list over n fields of one key; fields the text does not supply
// keep what they held (the struct's defaults).
template <typename T>
void LoadList(const std::string& text, const ParamField* f, size_t n, void* params,
              T (*parse)(const char*, char**))
{
    std::vector<T> values(n);
    for (size_t i = 0; i < n; ++i)
        values[i] = At<T>(f[i], params);
    ScanList(text, values, parse);
    for (size_t i = 0; i < n; ++i)
        At<T>(f[i], params) = values[i];
}

// A missing key keeps the struct's default.
void LoadKey(const IniFile& ini, const char* section, const ParamField* f, size_t n, void* params)
{
    switch (f->type) {
    case FieldType::kInt:
        if (n == 1)
            At<int>(*f, params) = ini.GetInt(section, f->iniKey, At<int>(*f, params));
        else
            LoadList<int>(ini.GetString(section, f->iniKey, ""), f, n, params, ParseInt);
        return;
    case FieldType::kColor:
        At<uint32_t>(*f, params) = static_cast<uint32_t>(
            ini.GetInt(section, f->iniKey, static_cast<int>(At<uint32_t>(*f, params))));
        return;
    case FieldType::kReal:
        if (n == 1) {
            // A present value without a number reads as 0.
            const std::string def = FormatC("%.17g", At<double>(*f, params));
            At<double>(*f, params) = ParseReal(ini.GetString(section, f->iniKey, def).c_str(), nullptr);
        } else {
            LoadList<double>(ini.GetString(section, f->iniKey, ""), f, n, params, ParseReal);
        }
        return;
    case FieldType::kText:
    case FieldType::kPath:
        At<std::string>(*f, params) = PathFromIni(ini.GetString(section, f->iniKey, ""));
        return;
    case FieldType::kKernel: {
        // The default text is taken as the value, whatever the mode.
        auto& c = *static_cast<ConvolutionParams*>(f->ref(params));
        LoadKernel(c, ini.GetString(section, f->iniKey, "0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0"));
        return;
    }
    }
}

// The key's text, or false when the key is not to be written.
bool FormatKey(const ParamField* f, size_t n, void* params, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < n; ++i) {
        if (i)
            out += ',';
        switch (f[i].type) {
        case FieldType::kInt: out += std::to_string(At<int>(f[i], params)); break;
        case FieldType::kColor: out += std::to_string(static_cast<int>(At<uint32_t>(f[i], params))); break;
        case FieldType::kReal: out += FormatReal(At<double>(f[i], params), f[i].iniDecimals); break;
        case FieldType::kText:
        case FieldType::kPath: out += PathToIni(At<std::string>(f[i], params)); break;
        case FieldType::kKernel:
            return FormatKernel(*static_cast<ConvolutionParams*>(f[i].ref(params)), f[i].iniDecimals, out);
        }
    }
    return true;
}

// Calls visit(group, first field, field count) for every key, in file order.
template <typename Visit>
void ForEachKey(Visit visit)
{
    for (const SettingsGroup& g : kGroups) {
        const ParamField* end = g.fields->end();
        for (const ParamField* f = g.fields->begin(); f < end;) {
            if (!f->iniKey) {
                ++f;
                continue;
            }
            const size_t n = RunLength(f, end);
            visit(g, f, n);
            f += n;
        }
    }
}

struct PlacementField {
    const char* key;
    int FramePlacement::*field;
    int def;
};

const PlacementField kPlacementFields[] = {
    {"X", &FramePlacement::x, 0},
    {"Y", &FramePlacement::y, 0},
    {"CX", &FramePlacement::width, 640},
    {"CY", &FramePlacement::height, 480},
    {"MAXIMIZED", &FramePlacement::maximized, 0},
};

}  // namespace

const std::vector<SettingsGroup>& SettingsGroups() { return kGroups; }

ImageSettings LoadImageSettings(const IniFile& ini)
{
    ImageSettings s;
    ForEachKey([&](const SettingsGroup& g, const ParamField* f, size_t n) {
        LoadKey(ini, g.section, f, n, g.in(s));
    });
    s.displayRange = s.range;
    return s;
}

bool SaveImageSettings(IniFile& ini, const ImageSettings& settings)
{
    ImageSettings s = settings;  // the fields are reached through mutable pointers
    std::vector<std::pair<std::string, std::string>> keyValues;
    std::string value;
    ForEachKey([&](const SettingsGroup& g, const ParamField* f, size_t n) {
        if (g.written && std::strcmp(g.section, kImgSet) == 0 && FormatKey(f, n, g.in(s), value))
            keyValues.emplace_back(f->iniKey, value);
    });
    return ini.WriteStrings(kImgSet, keyValues);
}

FramePlacement LoadPlacement(const std::string& workingDirectory)
{
    FramePlacement p;
    p.layoutState = LayoutCheck(workingDirectory);
    if (p.layoutState != 0)
        return p;
    p.iniPath = Directories::FromWorkingDirectory(workingDirectory).iniPath;
    const IniFile ini(p.iniPath);
    for (const PlacementField& f : kPlacementFields)
        p.*f.field = ini.GetInt(kWindow, f.key, f.def);
    return p;
}

bool SavePlacement(const FramePlacement& p)
{
    if (p.layoutState != 0 || p.iniPath.empty())
        return false;
    std::vector<std::pair<std::string, std::string>> keyValues;
    for (const PlacementField& f : kPlacementFields)
        keyValues.emplace_back(f.key, std::to_string(p.*f.field));
    IniFile ini(p.iniPath);
    return ini.WriteStrings(kWindow, keyValues);
}

}  // namespace lumadrift
