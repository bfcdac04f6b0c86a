#include "wizard/progress_math.h"

#include <climits>

int PercentOf(std::uint32_t part, std::uint32_t total) {
  if (total == 0) return 0;
  double percent = static_cast<double>(part) * 100.0 / static_cast<double>(total);
  // Converting a double beyond the int range is undefined: hold it first.
  if (percent >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(percent);
}

int ExtendedUpperBound(int upper, int extra) {
  long long sum = static_cast<long long>(upper) + extra;
  if (sum > INT_MAX) return INT_MAX;
  if (sum < INT_MIN) return INT_MIN;
  return static_cast<int>(sum);
}
