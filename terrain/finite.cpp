#include <cfloat>
#include <cmath>

#include "terrain/operations.h"

namespace terrain {

double KeepFinite(double value, double source) {
  if (!std::isfinite(source)) return value;
  if (std::isnan(value)) return source;
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return value;
}

double PercentToFraction(double percent) {
  return static_cast<double>(static_cast<long double>(percent) * static_cast<long double>(0.01));
}

}  // namespace terrain
