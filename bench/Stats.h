#pragma once

#include "Stopwatch.h"

#include <vector>

namespace bench {

double milliseconds(Duration duration);

// The median of `samples` (the mean of the middle two for an even count).
double median(std::vector<double> samples);

// The median distance from the median, as a share of the median: how far
// a typical run strays, robust against the odd run that the machine slowed.
double relativeSpread(const std::vector<double>& samples);

}  // namespace bench
