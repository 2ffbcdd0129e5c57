#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace bench {

double milliseconds(Duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

double median(std::vector<double> samples) {
    if (samples.empty()) throw std::invalid_argument("median of no samples");
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    if (samples.size() % 2 == 1) return *middle;
    const double upper = *middle;
    const double lower = *std::max_element(samples.begin(), middle);
    return (lower + upper) / 2;
}

double relativeSpread(const std::vector<double>& samples) {
    const double centre = median(samples);
    std::vector<double> distances;
    distances.reserve(samples.size());
    for (double sample : samples) distances.push_back(std::fabs(sample - centre));
    return centre > 0 ? median(distances) / centre : 0;
}

}  // namespace bench
