#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/json.h"

namespace tavren::bench {

using Clock = std::chrono::steady_clock;

inline double micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// The q-quantile (0..1) of the samples, by nearest rank.
inline double quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(i, samples.size() - 1)];
}

// The median and one tail quantile of the samples, as "<name>P50" and "<name>P<tailPercent>".
inline Json quantileFigures(const std::string& name, const std::vector<double>& samples,
                            int tailPercent) {
  return {{name + "P50", quantile(samples, 0.5)},
          {name + "P" + std::to_string(tailPercent), quantile(samples, tailPercent / 100.0)}};
}

// A binary built next to this one.
inline std::string sibling(const std::string& name) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

}  // namespace tavren::bench
