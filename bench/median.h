// The figure the benchmarks print of repeated runs: one run that the
// machine's other work hit does not move it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The middle value; of an even count, the mean of the two middle ones.
inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}
