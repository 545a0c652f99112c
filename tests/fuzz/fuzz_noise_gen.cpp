// CNoiseGen under any seed and any sequence of modes, ranges and types: defined
// behaviour throughout, and the documented bounds of each output.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "random/noise_gen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int32_t seed;
  std::memcpy(&seed, data, 4);
  CNoiseGen generator;
  generator.Seed(seed);
  for (size_t i = 4; i + 1 < size; i += 2) {
    const uint8_t op = data[i];
    const int8_t arg = static_cast<int8_t>(data[i + 1]);
    switch (op % 4) {
      case 0:
        generator.SetMode(arg);
        break;
      case 1:
        generator.SetRange(static_cast<float>(arg), static_cast<float>(op) - 128.0f);
        break;
      case 2: {
        const float v = generator.Next(arg);
        if (arg == 4 && v < 0.0f) std::abort();
        if (arg == 5 && v > 0.0f) std::abort();
        break;
      }
      case 3: {
        const float u = generator.Uniform();
        if (!(u >= 0.0f && u < 1.0f)) std::abort();
        break;
      }
    }
  }
  return 0;
}
