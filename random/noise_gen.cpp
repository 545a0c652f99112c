#include "random/noise_gen.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// The arithmetic sequence's start, step and modulus, in units of 2^-24.
constexpr int32_t kC = 362436;
constexpr int32_t kCd = 7654321;
constexpr int32_t kCm = 16777213;

// 32-bit product that wraps in two's complement, without signed overflow.
int32_t WrappingMultiply(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// |x| mod m with |INT32_MIN| taken as 2^31 rather than overflowing.
int32_t AbsMod(int32_t x, int32_t m) {
  return static_cast<int32_t>(std::llabs(static_cast<int64_t>(x)) % m);
}

}  // namespace

CNoiseGen::CNoiseGen() : randScale(1.0f / 32767.0f), mode(0) { Reset(); }

CNoiseGen::~CNoiseGen() = default;

void CNoiseGen::Reset() {
  low = -100.0f;
  high = 100.0f;
  span = high - low;
  SeedFromClock();
}

void CNoiseGen::SeedFromClock() {
  // Formed in 64 bits so that clocks past 2038 still give 0..999999.
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  Seed(static_cast<int32_t>((now ^ 0xF37C) % 1000000));
}

void CNoiseGen::Seed(int32_t s) {
  seed = s;
  SeedPair(AbsMod(WrappingMultiply(97, s), 31329), AbsMod(WrappingMultiply(33, s), 30082));
}

void CNoiseGen::SeedPair(int32_t ij, int32_t kl) {
  int32_t i = (ij / 177) % 177 + 2;
  int32_t j = (ij % 177) + 2;
  int32_t k = (kl / 169) % 178 + 1;
  int32_t l = kl % 169;
  for (int n = 1; n <= 97; ++n) {
    int32_t v = 0;
    int32_t t = 1 << 23;  // 0.5 in units of 2^-24
    for (int bit = 0; bit < 24; ++bit) {
      const int32_t m = ((i * j % 179) * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) v += t;
      t >>= 1;
    }
    u[n] = v;
  }
  u[0] = 0;
  c = kC;
  cd = kCd;
  cm = kCm;
  i97 = 97;
  j97 = 33;
}

void CNoiseGen::SetRange(float a, float b) {
  if (b > a) {
    low = a;
    high = b;
  } else {
    low = b;
    high = a;
  }
  span = high - low;
}


void CNoiseGen::UniformBatch(float* out, size_t n) {
  constexpr int32_t kOne = 1 << 24;
  int32_t i = i97;
  int32_t j = j97;
  int32_t cc = c;
  for (size_t k = 0; k < n; ++k) {
    cc -= cd;
    cc += (cc >> 31) & cm;
    int32_t x = u[i] - u[j];
    x += (x >> 31) & kOne;
    u[i] = x;
    i = i == 1 ? 97 : i - 1;
    j = j == 1 ? 97 : j - 1;
    x -= cc;
    x += (x >> 31) & kOne;
    out[k] = static_cast<float>(x) * 0x1p-24f;
  }
  i97 = i;
  j97 = j;
  c = cc;
}
