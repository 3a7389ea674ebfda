// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

namespace fb {

// How a picture of the graph differs from the one before it. Either it is new as a whole, or the
// last picture moved scrolledLeft pixels to the left holds it everywhere but in the listed columns
// (among them the columns that came in at the right edge).
struct HistogramChange {
    bool whole = true;
    int scrolledLeft = 0;
    // The columns drawn anew, ascending; none for a whole picture.
    std::vector<int> columns;
};

} // namespace fb
