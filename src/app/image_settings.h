// The document's remembered operation parameters and their INI form
// (section "IMGSET"; "IMG_FFTTHD" and the "CAMERA" section are read only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/param_fields.h"
#include "core/image_model.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/derivative.h"
#include "filters/fft.h"
#include "filters/smoothing.h"

namespace lumadrift {

class IniFile;

// Every operation keeps its last parameters in its own struct (defaults in
// the struct); the settings file holds them between sessions.
struct ImageSettings {
    ProcessingRange range{0, 0, 0, 0};         // image pixels
    ProcessingRange displayRange{0, 0, 0, 0};  // display pixels at the zoom, no margin
    uint32_t mouseColor = 0;   // 0x00BBGGRR
    uint32_t graphColor = 0;
    uint32_t resultColor = 0;
    int profileOrientation = 0;
    BinarizeParams binarize;
    ContrastParams contrast;
    GammaParams gamma;
    KernelSizeParams movingAverage;
    KernelSizeParams median;
    RankParams rank;
    ConvolutionParams convolution;
    AffineParams affine;
    FftParams fft;
    int fftThreads = DefaultFftThreads();  // read only; without IMG_FFTTHD every core, up to five
    int cameraUse = 0;             // read only
    int cameraWidth = 640;         // read only
    int cameraHeight = 480;        // read only
};

// The settings walk these groups in this order, which is the order of the
// keys in a new file. A group is one parameter struct inside ImageSettings
// (or ImageSettings itself for the few settings of the window).
struct SettingsGroup {
    const char* section;
    const ParamSet* fields;
    void* (*in)(ImageSettings&);
    bool written;  // false: read at start, changed only by editing the file
};
const std::vector<SettingsGroup>& SettingsGroups();

// Longest path kept in the settings (bytes of the CP932 form).
constexpr size_t kMaxSettingsPath = 259;

// Reads every key; a missing key takes its default. A list that stops early
// ("1,2" for the range) keeps the key's default for the fields it lacks; a
// single real without a number reads as 0. IMG_CONVMODE decides IMG_CONVVAL:
// 3 or 5 give 9 or 25 coefficients (missing ones 0.0), 0 gives the kernel
// file path (the text up to its first blank), other modes neither. Paths are
// cut to kMaxSettingsPath bytes of CP932 and held as UTF-8. The range key
// fills displayRange too. Numbers are read in the "C" locale.
ImageSettings LoadImageSettings(const IniFile& ini);
// Writes the "IMGSET" keys in table order in one rewrite of the file (never
// IMG_FFTTHD or CAMERA). IMG_CONVVAL is left as it is in the file when the
// convolution mode is neither 0, 3 nor 5.
bool SaveImageSettings(IniFile& ini, const ImageSettings& s);

// Window placement, section "WINDOW".
struct FramePlacement {
    int layoutState = -1;  // 0 layout present, -1 not
    int x = 0;
    int y = 0;
    int width = 640;
    int height = 480;
    int maximized = 0;
    std::string iniPath;   // empty when layoutState is -1
};

// Decides the layout state from the working directory and reads "WINDOW"
// (defaults when the layout check fails).
FramePlacement LoadPlacement(const std::string& workingDirectory);
// Writes "WINDOW" when the layout state is 0.
bool SavePlacement(const FramePlacement& p);

}  // namespace lumadrift
