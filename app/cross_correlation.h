#pragma once

#include <cstddef>
#include <vector>

// The cross-correlation of each of a few probes with each of a few signals,
// through the FFT: result[p][s][lag] = sum over n of probes[p][n] *
// signals[s][n + lag], for lag 0 ... lags - 1, a signal counting as zero
// beyond its end.
std::vector<std::vector<std::vector<double>>> CrossCorrelate(
    const std::vector<const std::vector<float>*>& probes,
    const std::vector<const std::vector<float>*>& signals, std::size_t lags);
