// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace norik::bench {

// The sample below which `fraction` of the samples lie (0.5 the median); `samples` must not be empty.
inline double percentile(std::vector<double> samples, double fraction) {
    std::ranges::sort(samples);
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

} // namespace norik::bench
