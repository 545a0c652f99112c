#include "random/noise_gen.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

constexpr float kC = 362436.0f / 16777216.0f;
constexpr float kCd = 7654321.0f / 16777216.0f;
constexpr float kCm = 16777213.0f / 16777216.0f;

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
    float v = 0.0f;
    float t = 0.5f;
    for (int bit = 0; bit < 24; ++bit) {
      const int32_t m = ((i * j % 179) * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) v += t;
      t *= 0.5f;
    }
    u[n] = v;
  }
  u[0] = 0.0f;
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

float CNoiseGen::Uniform() {
  float x = u[i97] - u[j97];
  if (x < 0.0f) x += 1.0f;
  u[i97] = x;
  i97 = i97 == 1 ? 97 : i97 - 1;
  j97 = j97 == 1 ? 97 : j97 - 1;
  c -= cd;
  if (c < 0.0f) c += cm;
  x -= c;
  if (x < 0.0f) x += 1.0f;
  return x;
}

float CNoiseGen::Next(int8_t type) {
  float v;
  switch (mode) {
    case 0:
      v = Uniform();
      break;
    case 1: {
      double sum = Uniform();
      sum += Uniform();
      sum += Uniform();
      sum += Uniform();
      v = static_cast<float>(sum * 0.25);
      break;
    }
    case 2:
      // The contract's rand() yields 0..32767; glibc's reaches RAND_MAX, so keep 15 bits.
      v = static_cast<float>(static_cast<double>(std::rand() % 32768) * randScale);
      break;
    default:
      v = 0.0f;
      break;
  }
  // Each transform is evaluated in double and rounded to float once.
  const double dv = v;
  switch (type) {
    case 1:
      return static_cast<float>((dv - 0.5) * 2.0);
    case 2:
      return static_cast<float>((dv - 0.5) * FLT_MAX);
    case 3:
      return static_cast<float>(dv * span + low);
    case 4:
      return static_cast<float>(std::fabs((dv - 0.5) * FLT_MAX));
    case 5: {
      const double r = (dv - 0.5) * FLT_MAX;
      return static_cast<float>(r > 0.0 ? -r : r);
    }
    default:
      return v;
  }
}
