// Uniform random numbers: the minimal-standard multiplicative congruential generator
// (multiplier 16807, modulus 2^31 - 1, Schrage's factorisation so that no product leaves 32
// bits) behind a 32-entry Bays-Durham shuffle table.
//
// The congruential state is a signed 32-bit word held by the caller and passed by address.
// The plain forms keep the shuffle table and the next value to deliver in this module, so
// they serve one thread; the _pll forms take those two from the caller as well, so that each
// caller (each thread) can keep a stream of its own. A clustering run calls ran1 once, on the configured seed, and uses the
// state word it leaves behind as the seed of the mean initializations.
#ifndef MOGEM_COMMON_RANDOM_H
#define MOGEM_COMMON_RANDOM_H

#include <cstdint>

namespace mogem::detail {

// Uniform deviate in the open interval (0, 1), in single precision. A call with *idum <= 0,
// or the first call of the process, (re)seeds from |*idum| (from 1 when *idum >= 0 on a
// seeding call) and refills the shuffle table; any other call continues the sequence. The
// latest congruential value is written back through idum.
float ran1(int32_t *idum);

// Size of the shuffle table a caller-held stream provides.
constexpr int RAN1_TABLE_SIZE = 32;

// ran1 on a caller-held stream: iy is the next table value (0 means the next call seeds),
// iv the table of RAN1_TABLE_SIZE entries. Same seeding rule and sequence as ran1; touches
// nothing but its arguments.
float ran1_pll(int32_t *idum, int32_t *iy, int32_t *iv);

// The module-held stream of ran1, so that the plain deviates can run the code of their
// caller-held twins on it and draw from the very sequence ran1 delivers.
struct ran1_stream {
  int32_t *iy;
  int32_t *iv;
};
ran1_stream ran1_module_stream();

// min + u x (max - min + 1), truncated: the integer in min..max that the uniform u selects.
int draw_in_range(int min, int max, float u);

// The forms below that keep no stream of their own (ran1_pll, iran_pll) are part of the
// clustering library; ran1, iran, dran, seed and the module stream are not (random_module.cpp).

// Uniform integer in min..max inclusive; consumes one draw. max < min is a fatal error: its
// refused as input (refuse_input, nr_util.h) with its message.
int iran(int min, int max, int32_t *idum);

// iran on a caller-held stream; its fatal message names the routine "irandom".
int iran_pll(int min, int max, int32_t *idum, int32_t *iy, int32_t *iv);

// Uniform real strictly between min and max; consumes one draw. min > max only warns.
double dran(double min, double max, int32_t *idum);

// A seed made from the wall clock and the C library's rand(); negative in practice, so that
// handing it to ran1 seeds the generator.
int32_t seed();

}  // namespace mogem::detail

#endif
