// Labeling of the white objects of a binary plane, the statistics of each
// label, the rows of the labeling result list and the result file (*.lbl).
//
// Pixel contract of Label:
// - An object pixel is a source pixel of 255; every other value (0 and, on a
//   plane that is not binary, 1..254) is background.
// - Objects are 8-connected. Final labels 1, 2, 3 ... follow the raster order
//   (top row first, then left to right) of each object's first pixel.
// - The destination range is cleared to 0 first; each object pixel then gets
//   its label when the label is at most 255. Objects 256 and above stay 0.
// - Nothing outside the range is read or written. Source and destination may
//   be the same plane.
// - K (count) is the next unused final label, i.e. objects + 1. The overflow
//   flag is 1 when K > 255, or when the image holds more simultaneous objects
//   than the 2047-entry label table can tell apart (then the result is
//   incomplete and K is at most 2048). Any image whose objects fit the table
//   is labeled exactly, however many provisional labels its shapes would
//   need: the table is compacted whenever it fills.
//
// Statistics compare plane pixels with the low 8 bits of the label, over the
// range; coordinates are plane pixels.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "filters/border.h"

namespace lumadrift {

struct LabelOutcome {
    int count = 1;     // K: objects + 1
    int overflow = 0;  // 1: K > 255, or the label table ran out
    // Some object really carries no label (more than 255 objects, or more
    // than the table could tell apart); exactly 255 objects are complete.
    bool incomplete = false;
};

// The view kernel: src and dst are plane origins with row stride `stride`.
// A range with no pixels gives {1, 0} and touches nothing.
LabelOutcome LabelKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);
// Labels the bank's source plane into its destination plane over the bank's
// range. An empty bank (or missing plane) does nothing and gives {1, 0}.
LabelOutcome Label(PlaneBank& bank);

// Number of range pixels equal to (n & 0xFF).
long long LabelArea(const uint8_t* plane, int stride, FilterRange range, int n);
// 0, or -1 when no pixel equals (n & 0xFF). The outputs start at
// (x0 + w, x0, y0 + h, y0) and move to the extreme columns and rows found,
// so on -1 they hold those starting values.
int LabelBoundingBox(const uint8_t* plane, int stride, FilterRange range, int n,
                     int& minX, int& maxX, int& minY, int& maxY);
// 0 with the mean column and row of the pixels equal to (n & 0xFF), or -1
// with x and y untouched when there are none.
int LabelCentroid(const uint8_t* plane, int stride, FilterRange range, int n,
                  double& x, double& y);

// Everything the result list needs about one value, gathered for all values
// 1..255 in a single pass over the plane.
struct LabelStatistics {
    long long area = 0;
    long long sumX = 0;
    long long sumY = 0;
    int minX = 0, maxX = 0, minY = 0, maxY = 0;  // valid when area > 0
};
// Entry v describes the pixels equal to v (entry 0 is left empty).
std::array<LabelStatistics, 256> GatherLabelStatistics(const uint8_t* plane, int stride,
                                                       FilterRange range);

// Column titles (UTF-8) and widths of the result list, in column order.
struct LabelingColumn {
    const char* title;
    int width;
};
extern const std::array<LabelingColumn, 5> kLabelingColumns;

// One result row: its values and its five cell texts, "%d", "(%d, %d)",
// "(%d, %d)", "(%.2lf, %.2lf)", "%d", formatted in the "C" locale.
struct LabelingRow {
    int number = 0;
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    double centroidX = 0.0, centroidY = 0.0;
    long long area = 0;
    std::array<std::string, 5> cells;
};

// Rows for labels 1 .. min(count - 1, 255) of a labeled plane. A label
// without pixels keeps the bounding box starting values and centroid 0.00.
std::vector<LabelingRow> LabelingResultRows(const uint8_t* plane, int stride,
                                            FilterRange range, int count);
// The same over the bank's destination plane (the one Label wrote); empty
// for an empty bank.
std::vector<LabelingRow> LabelingResultRows(PlaneBank& bank, int count);

// The bytes of a result file: the CP932 header line, then one line per row,
// cells separated by tabs, every line ended by CR LF.
std::string LabelingResultFileBytes(const std::vector<LabelingRow>& rows);
// Writes those bytes whole (temporary file and rename). 0, or -1 when the
// file could not be written (a file already at path is then unchanged).
int WriteLabelingResultFile(const std::string& path, const std::vector<LabelingRow>& rows);

}  // namespace lumadrift
