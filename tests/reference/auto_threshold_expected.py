#!/usr/bin/env python3
"""Expected automatic thresholds for tests/filters/test_auto_threshold.cpp.

Builds an 8-bit image for each histogram of the table below, runs
scikit-image's threshold_otsu, threshold_triangle, threshold_isodata,
threshold_li and threshold_mean on it and prints the rows of the C++ table:
the threshold t of each method and how many pixels lie above it (v > t).
Where scikit-image raises an error (empty image; Triangle on a single level)
the row prints the result the C++ code defines instead, marked in a comment.

The histograms are written the same way in the C++ test: single levels
(level, count) plus triangular bumps (centre, height, slope) that add
max(0, height - slope * |v - centre|) to every level v, all integers.

Run with Debian's python3-skimage (scripts/install-deps with
LUMADRIFT_WITH_TOOLS=1):  /usr/bin/python3 tests/reference/auto_threshold_expected.py
"""
import math

import numpy as np
import skimage
from skimage.filters import (threshold_isodata, threshold_li, threshold_mean,
                             threshold_otsu, threshold_triangle)

# name, [(level, count)], [(centre, height, slope)]
CASES = [
    ("Empty", [], []),
    ("OneLevelAllZero", [(0, 1000)], []),
    ("OneLevel200", [(200, 7)], []),
    ("TwoLevelsEqual", [(50, 100), (200, 100)], []),
    ("TwoLevelsUnequal", [(10, 300), (240, 100)], []),
    ("TwoAdjacentLevels", [(127, 5), (128, 7)], []),
    ("FlatFull", [(v, 10) for v in range(256)], []),
    ("FlatBand", [(v, 3) for v in range(100, 151)], []),
    ("Bimodal", [], [(60, 400, 8), (180, 250, 5)]),
    ("LongRightTail", [], [(40, 1000, 20), (150, 60, 1)]),
    ("PeakAtBlack", [(0, 5000)], [(128, 100, 1)]),
    ("ThreeModes", [], [(30, 200, 10), (128, 300, 6), (220, 150, 5)]),
    ("BrightObjectOnFloor", [(v, 1) for v in range(256)], [(200, 500, 25)]),
    ("Sparse", [(3, 1), (7, 1), (250, 1)], []),
    ("ManyPixels", [(0, 30000001), (90, 3), (255, 17)], []),
]


def histogram(levels, bumps):
    h = [0] * 256
    for v, c in levels:
        h[v] += c
    for centre, height, slope in bumps:
        for v in range(256):
            h[v] += max(0, height - slope * abs(v - centre))
    return h


def main():
    methods = [("otsu", threshold_otsu), ("triangle", threshold_triangle),
               ("isodata", threshold_isodata), ("li", threshold_li),
               ("mean", threshold_mean)]
    print(f"// scikit-image {skimage.__version__}, numpy {np.__version__}")
    for name, levels, bumps in CASES:
        h = histogram(levels, bumps)
        image = np.repeat(np.arange(256, dtype=np.uint8), h)
        values, notes = [], []
        for mname, fn in methods:
            if image.size == 0:
                t = math.nan
                if not notes:
                    notes.append("no pixels: scikit-image raises or gives NaN; defined NaN")
            else:
                try:
                    t = float(fn(image))
                except (ValueError, IndexError) as e:
                    # Only a single level gets here (Triangle); the C++ code
                    # defines the level itself.
                    assert len(np.unique(image)) == 1, e
                    t = float(image[0])
                    notes.append(f"{mname}: raises {type(e).__name__}, defined {t:g}")
            above = int(np.count_nonzero(image > t)) if not math.isnan(t) else 0
            values.append((t, above))
        cells = ", ".join(("kNaN" if math.isnan(t) else repr(t)) + f", {a}" for t, a in values)
        comment = f"  // {'; '.join(notes)}" if notes else ""
        print(f'    {{"{name}", {cells}}},{comment}')


if __name__ == "__main__":
    main()
