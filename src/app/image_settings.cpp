#include "app/image_settings.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "app/directories.h"
#include "core/cp932.h"
#include "core/ini_file.h"

namespace lumadrift {

namespace {

constexpr const char kImgSet[] = "IMGSET";
constexpr const char kCamera[] = "CAMERA";
constexpr const char kWindow[] = "WINDOW";

// The settings file must read the same on every desktop, so numbers never
// follow LC_NUMERIC (which the GUI toolkit sets from the environment).
locale_t CLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

std::string FormatReal(double v, int decimals)
{
    const locale_t previous = uselocale(CLocale());
    char small[64];
    const int n = std::snprintf(small, sizeof small, "%.*f", decimals, v);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::snprintf(out.data(), out.size(), "%.*f", decimals, v);
        out.resize(static_cast<size_t>(n));
    }
    uselocale(previous);
    return out;
}

double ParseReal(const char* p, char** end) { return strtod_l(p, end, CLocale()); }

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

enum class Kind {
    Int,       // integer read, "%d"
    Color,     // integer read, decimal 0x00BBGGRR
    IntList,   // text read, "%d,%d,..."
    Real,      // text read, one real
    RealList,  // text read, "%lf,%lf,..." with the row's decimals
    Path,      // text read, CP932 path
    Kernel,    // coefficients or kernel file path, decided by the mode
};

// The fields of one ImageSettings that a key covers.
struct Refs {
    std::array<int*, 4> ints{};
    uint32_t* color = nullptr;
    std::array<double*, 2> reals{};
    std::string* text = nullptr;

    size_t intCount() const { return Count(ints); }
    size_t realCount() const { return Count(reals); }

private:
    template <typename A>
    static size_t Count(const A& a)
    {
        size_t n = 0;
        while (n < a.size() && a[n])
            ++n;
        return n;
    }
};

Refs Ints(int* a, int* b = nullptr, int* c = nullptr, int* d = nullptr)
{
    Refs r;
    r.ints = {a, b, c, d};
    return r;
}
Refs Reals(double* a, double* b = nullptr)
{
    Refs r;
    r.reals = {a, b};
    return r;
}
Refs Color(uint32_t* c)
{
    Refs r;
    r.color = c;
    return r;
}
Refs Text(std::string* t)
{
    Refs r;
    r.text = t;
    return r;
}

struct Field {
    const char* section;
    const char* key;
    Kind kind;
    int intDefault;           // integer keys
    const char* textDefault;  // text keys
    int decimals;             // reals: digits written after the point
    bool written;             // false: read at start, changed only by editing the file
    Refs (*bind)(ImageSettings&);
};

// Load and save both walk this table; its order is the order of the keys in
// the file, and IMG_CONVMODE must precede IMG_CONVVAL, whose form it decides.
const Field kFields[] = {
    {kImgSet, "IMG_RANGE", Kind::IntList, 0, "0,0,0,0", 0, true,
     [](ImageSettings& s) { return Ints(&s.range.left, &s.range.top, &s.range.right, &s.range.bottom); }},
    {kImgSet, "IMG_MCOLOR", Kind::Color, 0, nullptr, 0, true, [](ImageSettings& s) { return Color(&s.mouseColor); }},
    {kImgSet, "IMG_GCOLOR", Kind::Color, 0, nullptr, 0, true, [](ImageSettings& s) { return Color(&s.graphColor); }},
    {kImgSet, "IMG_RCOLOR", Kind::Color, 0, nullptr, 0, true, [](ImageSettings& s) { return Color(&s.resultColor); }},
    {kImgSet, "IMG_PROFILE", Kind::Int, 0, nullptr, 0, true,
     [](ImageSettings& s) { return Ints(&s.profileOrientation); }},
    {kImgSet, "IMG_MINBINARY", Kind::Int, 128, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.binarizeMin); }},
    {kImgSet, "IMG_MAXBINARY", Kind::Int, 128, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.binarizeMax); }},
    {kImgSet, "IMG_CONTRAST", Kind::Real, 0, "1.0", 6, true, [](ImageSettings& s) { return Reals(&s.contrast); }},
    {kImgSet, "IMG_GAMMA", Kind::Real, 0, "1.0", 6, true, [](ImageSettings& s) { return Reals(&s.gamma); }},
    {kImgSet, "IMG_AVEKNLX", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.averageKernelX); }},
    {kImgSet, "IMG_AVEKNLY", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.averageKernelY); }},
    {kImgSet, "IMG_MEDKNLX", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.medianKernelX); }},
    {kImgSet, "IMG_MEDKNLY", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.medianKernelY); }},
    {kImgSet, "IMG_RANKKNLX", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.rankKernelX); }},
    {kImgSet, "IMG_RANKKNLY", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.rankKernelY); }},
    {kImgSet, "IMG_RANKVAL", Kind::Int, 0, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.rankValue); }},
    {kImgSet, "IMG_RANKIDX", Kind::Int, 0, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.rankChoice); }},
    {kImgSet, "IMG_CONVMODE", Kind::Int, 3, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.convolutionMode); }},
    {kImgSet, "IMG_CONVMN", Kind::IntList, 0, "3,3", 0, true,
     [](ImageSettings& s) { return Ints(&s.convolutionM, &s.convolutionN); }},
    {kImgSet, "IMG_CONVVAL", Kind::Kernel, 0, "0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0", 6, true,
     [](ImageSettings& s) { return Text(&s.kernelFile); }},
    {kImgSet, "IMG_AFANGLE", Kind::Real, 0, "0.0", 1, true, [](ImageSettings& s) { return Reals(&s.affineAngle); }},
    {kImgSet, "IMG_AFCENTER", Kind::RealList, 0, "0.0,0.0", 1, true,
     [](ImageSettings& s) { return Reals(&s.affineCenterX, &s.affineCenterY); }},
    {kImgSet, "IMG_AFZOOM", Kind::RealList, 0, "0.0,0.0", 1, true,
     [](ImageSettings& s) { return Reals(&s.affineZoomX, &s.affineZoomY); }},
    {kImgSet, "IMG_AFPOS", Kind::RealList, 0, "0.0,0.0", 1, true,
     [](ImageSettings& s) { return Reals(&s.affineShiftX, &s.affineShiftY); }},
    {kImgSet, "IMG_MINFFT", Kind::Real, 0, "0.0", 2, true, [](ImageSettings& s) { return Reals(&s.fftLow); }},
    {kImgSet, "IMG_MAXFFT", Kind::Real, 0, "1.0", 2, true, [](ImageSettings& s) { return Reals(&s.fftHigh); }},
    {kImgSet, "IMG_FFTMASK", Kind::Int, 0, nullptr, 0, true, [](ImageSettings& s) { return Ints(&s.fftMaskShape); }},
    {kImgSet, "IMG_MASKFILE", Kind::Path, 0, "", 0, true, [](ImageSettings& s) { return Text(&s.fftMaskFile); }},
    {kImgSet, "IMG_FFTTHD", Kind::Int, DefaultFftThreads(), nullptr, 0, false, [](ImageSettings& s) { return Ints(&s.fftThreads); }},
    {kCamera, "CAMERA_USE", Kind::Int, 0, nullptr, 0, false, [](ImageSettings& s) { return Ints(&s.cameraUse); }},
    {kCamera, "CAMERA_WIDTH", Kind::Int, 640, nullptr, 0, false, [](ImageSettings& s) { return Ints(&s.cameraWidth); }},
    {kCamera, "CAMERA_HEIGHT", Kind::Int, 480, nullptr, 0, false,
     [](ImageSettings& s) { return Ints(&s.cameraHeight); }},
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

void LoadKernel(ImageSettings& s, const Field& f, const std::string& text)
{
    s.convolutionValues.clear();
    s.kernelFile.clear();
    const int size = KernelSize(s.convolutionMode);
    if (size < 0) {
        s.kernelFile = PathFromIni(text.substr(0, text.find_first_of(" \t\n\v\f\r")));
        return;
    }
    // Coefficients the value does not supply are 0.0, the default's value.
    std::vector<double> values(static_cast<size_t>(size), 0.0);
    ScanList(f.textDefault, values, ParseReal);
    ScanList(text, values, ParseReal);
    s.convolutionValues = std::move(values);
}

void LoadField(const IniFile& ini, const Field& f, ImageSettings& s)
{
    const Refs r = f.bind(s);
    switch (f.kind) {
    case Kind::Int:
        *r.ints[0] = ini.GetInt(f.section, f.key, f.intDefault);
        return;
    case Kind::Color:
        *r.color = static_cast<uint32_t>(ini.GetInt(f.section, f.key, f.intDefault));
        return;
    default:
        break;
    }
    const std::string text = ini.GetString(f.section, f.key, f.textDefault);
    switch (f.kind) {
    case Kind::IntList: {
        // A list that stops early keeps the default's numbers for the rest.
        std::vector<int> values(r.intCount(), 0);
        ScanList(f.textDefault, values, ParseInt);
        ScanList(text, values, ParseInt);
        for (size_t i = 0; i < values.size(); ++i)
            *r.ints[i] = values[i];
        return;
    }
    case Kind::Real:
        *r.reals[0] = ParseReal(text.c_str(), nullptr);
        return;
    case Kind::RealList: {
        std::vector<double> values(r.realCount(), 0.0);
        ScanList(f.textDefault, values, ParseReal);
        ScanList(text, values, ParseReal);
        for (size_t i = 0; i < values.size(); ++i)
            *r.reals[i] = values[i];
        return;
    }
    case Kind::Path:
        *r.text = PathFromIni(text);
        return;
    case Kind::Kernel:
        LoadKernel(s, f, text);
        return;
    default:
        return;
    }
}

// The key's text, or false when the key is not to be written.
bool FormatField(const Field& f, ImageSettings& s, std::string& out)
{
    const Refs r = f.bind(s);
    out.clear();
    switch (f.kind) {
    case Kind::Int:
    case Kind::IntList:
        for (size_t i = 0; i < r.intCount(); ++i)
            out += (i ? "," : "") + std::to_string(*r.ints[i]);
        return true;
    case Kind::Color:
        out = std::to_string(static_cast<int>(*r.color));
        return true;
    case Kind::Real:
    case Kind::RealList:
        for (size_t i = 0; i < r.realCount(); ++i)
            out += (i ? "," : "") + FormatReal(*r.reals[i], f.decimals);
        return true;
    case Kind::Path:
        out = PathToIni(*r.text);
        return true;
    case Kind::Kernel: {
        const int size = KernelSize(s.convolutionMode);
        if (size < 0) {
            out = PathToIni(s.kernelFile);
            return true;
        }
        if (size == 0)
            return false;  // an unknown mode leaves the stored value alone
        for (size_t i = 0; i < static_cast<size_t>(size); ++i) {
            const double v = i < s.convolutionValues.size() ? s.convolutionValues[i] : 0.0;
            out += (i ? "," : "") + FormatReal(v, f.decimals);
        }
        return true;
    }
    }
    return false;
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

ImageSettings LoadImageSettings(const IniFile& ini)
{
    ImageSettings s;
    for (const Field& f : kFields)
        LoadField(ini, f, s);
    s.displayRange = s.range;
    return s;
}

bool SaveImageSettings(IniFile& ini, const ImageSettings& settings)
{
    ImageSettings s = settings;  // the table binds mutable fields
    std::vector<std::pair<std::string, std::string>> keyValues;
    std::string value;
    for (const Field& f : kFields)
        if (f.written && std::strcmp(f.section, kImgSet) == 0 && FormatField(f, s, value))
            keyValues.emplace_back(f.key, value);
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
