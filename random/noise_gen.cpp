#include "random/noise_gen.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/simd.h"

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

// Polynomials in t modulo t^97 + t^64 - 1, which is how the lagged sequence x[n] =
// x[n - 97] - x[n - 33] steps: t^k stands for the value k places on from the oldest of
// the 97 kept, and t^97 = 1 - t^64.
using Polynomial = std::array<uint32_t, 97>;

void TimesT(Polynomial& p) {
  const uint32_t top = p[96];
  for (size_t k = 96; k > 0; --k) p[k] = p[k - 1];
  p[0] = top;
  p[64] -= top;
}

Polynomial Squared(const Polynomial& p) {
  uint32_t wide[2 * 97 - 1] = {};
  for (size_t i = 0; i < 97; ++i)
    for (size_t j = 0; j < 97; ++j) wide[i + j] += p[i] * p[j];
  // From the top down, t^k = t^(k - 97) - t^(k - 33), until every degree is below 97.
  for (size_t k = 2 * 97 - 2; k >= 97; --k) {
    wide[k - 97] += wide[k];
    wide[k - 33] -= wide[k];
  }
  Polynomial out;
  std::memcpy(out.data(), wide, sizeof out);
  return out;
}

}  // namespace

CNoiseGen::Jump::Jump(uint64_t draws) : draws_(draws), power_{} {
  // Binary powering of t, from the highest bit of draws down.
  power_[0] = 1;
  for (int bit = 63 - std::countl_zero(draws); bit >= 0; --bit) {
    power_ = Squared(power_);
    if (draws >> bit & 1) TimesT(power_);
  }
}

void CNoiseGen::Jump::Apply(CNoiseGen& generator) const {
  // history[k] is the value drawn 97 - k steps ago, as in UniformBatch.
  uint32_t history[97];
  for (int k = 0, i = generator.i97; k < 97; ++k, i = i == 1 ? 97 : i - 1)
    history[k] = static_cast<uint32_t>(generator.u[i]);
  // The value k places on from the oldest after the jump is t^(draws + k) applied to the
  // kept values.
  Polynomial term = power_;
  for (int k = 0; k < 97; ++k) {
    uint32_t sum = 0;
    for (size_t j = 0; j < 97; ++j) sum += term[j] * history[j];
    generator.u[97 - k] = static_cast<int32_t>(sum & 0xFFFFFFu);
    TimesT(term);
  }
  generator.i97 = 97;
  generator.j97 = 33;
  // The arithmetic sequence steps cd down, modulo cm, once a draw.
  const int64_t steps = static_cast<int64_t>(draws_ % static_cast<uint64_t>(generator.cm));
  int64_t c = (generator.c - steps * generator.cd) % generator.cm;
  if (c < 0) c += generator.cm;
  generator.c = static_cast<int32_t>(c);
}

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

// The lagged sequence's new value depends on values 97 and 33 steps back, so up to 33
// of them can be formed at once: the state is laid out oldest first, extended a batch
// at a time eight lanes per step, and folded back into the table afterwards. The
// arithmetic sequence steps eight places per lane step.
ROVANDEL_CLONES_AVX2
void CNoiseGen::UniformBatch(float* out, size_t n) {
  using Ints = rovandel::simd::Lanes<8>::Ints;
  constexpr int kWidth = 8;
  constexpr int32_t kOne = 1 << 24;
  constexpr size_t kChunk = 1024;
  int32_t history[97 + kChunk];
  int32_t steps[kChunk];
  while (n > 0) {
    const size_t count = n < kChunk ? n : kChunk;
    // history[k] is the value drawn 97 - k steps ago.
    for (int k = 0, i = i97; k < 97; ++k, i = i == 1 ? 97 : i - 1) history[k] = u[i];
    size_t m = 0;
    for (; m + kWidth <= count; m += kWidth) {
      Ints older, newer;
      std::memcpy(&older, history + m, sizeof older);
      std::memcpy(&newer, history + m + 64, sizeof newer);
      Ints x = older - newer;
      x += (x >> 31) & kOne;
      std::memcpy(history + 97 + m, &x, sizeof x);
    }
    for (; m < count; ++m) {
      int32_t x = history[m] - history[m + 64];
      x += (x >> 31) & kOne;
      history[97 + m] = x;
    }
    // The arithmetic sequence: each value cd below the last, modulo cm; the lanes hold
    // eight consecutive values and step eight places at a time.
    Ints lanes;
    int32_t cc = c;
    for (int lane = 0; lane < kWidth; ++lane) {
      cc -= cd;
      cc += (cc >> 31) & cm;
      lanes[lane] = cc;
    }
    const auto eightSteps = static_cast<int32_t>((int64_t{kWidth} * cd) % cm);
    size_t k = 0;
    for (; k + kWidth <= count; k += kWidth) {
      std::memcpy(steps + k, &lanes, sizeof lanes);
      lanes -= eightSteps;
      lanes += (lanes >> 31) & cm;
    }
    for (int lane = 0; k < count; ++k, ++lane) steps[k] = lanes[lane];
    c = steps[count - 1];
    for (size_t k = 0; k < count; ++k) {
      int32_t x = history[97 + k] - steps[k];
      x += (x >> 31) & kOne;
      out[k] = static_cast<float>(x) * 0x1p-24f;
    }
    // Back into the table: the newest value where the next draw's oldest would be.
    const int32_t shift = static_cast<int32_t>(count % 97);
    int32_t i = i97 - shift;
    if (i < 1) i += 97;
    int32_t j = j97 - shift;
    if (j < 1) j += 97;
    for (int k = 0, slot = i; k < 97; ++k, slot = slot == 1 ? 97 : slot - 1)
      u[slot] = history[count + static_cast<size_t>(k)];
    i97 = i;
    j97 = j;
    out += count;
    n -= count;
  }
}
