// The 48-bit linear congruential generator of the random initializations, held by its caller.
//
// x' = (0x5DEECE66D x + 0xB) mod 2^48. Seeding with s sets x to the low 32 bits of s followed
// by 0x330E, as srand48 does; each draw steps first and reads the new state: next_index is
// the top 31 bits (lrand48), next_unit x / 2^48 (drand48). Being a plain value, every fit
// owns its own stream and the C library's process-wide generator (whose parameters lcong48
// can change) is never touched.
#ifndef MOGEM_COMMON_RAND48_H
#define MOGEM_COMMON_RAND48_H

#include <cstdint>

namespace mogem::detail {

struct rand48_stream {
  std::uint64_t state;

  explicit rand48_stream(std::int32_t seed)
      : state((static_cast<std::uint64_t>(static_cast<std::uint32_t>(seed)) << 16) | 0x330E) {}

  // A non-negative integer below 2^31.
  long next_integer() {
    step();
    return static_cast<long>(state >> 17);
  }

  // A double in [0, 1), exact: 48 bits fit in the significand.
  double next_unit() {
    step();
    return static_cast<double>(state) * 0x1p-48;
  }

  // The draws backwards: the integer the last next_integer() gave, then the state before it
  // (the multiplier is odd, so the step can be undone). Replaying a run of draws from its end
  // this way needs no record of them.
  long last_integer() const { return static_cast<long>(state >> 17); }
  void step_back() { state = (inverse_multiplier() * (state - 0xB)) & ((1ULL << 48) - 1); }

  void step() { state = (0x5DEECE66DULL * state + 0xB) & ((1ULL << 48) - 1); }

  // The state n steps on, as n calls of step() leave it, in about log2(n) multiplications: the
  // step composed with itself by squaring (x -> a x + c twice is x -> a^2 x + (a + 1) c).
  void skip(std::uint64_t n) {
    std::uint64_t a = 0x5DEECE66DULL, c = 0xB, multiplier = 1, increment = 0;
    for (; n > 0; n >>= 1) {
      if (n & 1) multiplier *= a, increment = a * increment + c;
      c *= a + 1;
      a *= a;
    }
    state = (multiplier * state + increment) & ((1ULL << 48) - 1);
  }

 private:
  // The inverse of the multiplier modulo 2^64 (so also modulo 2^48), by Newton's iteration.
  static constexpr std::uint64_t inverse_multiplier() {
    std::uint64_t inverse = 0x5DEECE66DULL;  // right in the lowest 3 bits; each step doubles that
    for (int i = 0; i < 5; i++) inverse *= 2 - 0x5DEECE66DULL * inverse;
    return inverse;
  }
};

}  // namespace mogem::detail

#endif
