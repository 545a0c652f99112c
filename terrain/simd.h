// The kernels' vectors, from the one header that holds what depends on the compiler
// and the instruction set.
#pragma once

#include "base/simd.h"

namespace terrain {
namespace simd = rovandel::simd;
}  // namespace terrain
