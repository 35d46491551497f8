#include "common/random.h"

#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

constexpr int32_t IA = 16807;
constexpr int32_t IM = 2147483647;
constexpr double AM = 1.0 / IM;
constexpr int32_t IQ = 127773;  // IM / IA
constexpr int32_t IR = 2836;    // IM % IA
constexpr int NTAB = RAN1_TABLE_SIZE;
constexpr int32_t NDIV = 1 + (IM - 1) / NTAB;
constexpr double RNMX = 1.0 - 1.2e-7;  // largest value delivered, compared in double

// idum * 16807 mod (2^31 - 1) without any intermediate leaving 32 bits.
void congruential_step(int32_t *idum) {
  int32_t k = *idum / IQ;
  *idum = IA * (*idum - k * IQ) - IR * k;
  if (*idum < 0) *idum += IM;
}

}  // namespace

float ran1_pll(int32_t *idum, int32_t *iy, int32_t *iv) {
  if (*idum <= 0 || !*iy) {
    // INT32_MIN has no positive negation; it seeds like 1, as every non-negative value does.
    if (*idum >= 0 || *idum == INT32_MIN)
      *idum = 1;
    else
      *idum = -*idum;
    for (int j = NTAB + 7; j >= 0; j--) {
      congruential_step(idum);
      if (j < NTAB) iv[j] = *idum;
    }
    *iy = iv[0];
  }
  congruential_step(idum);
  int j = *iy / NDIV;
  *iy = iv[j];
  iv[j] = *idum;
  float temp = static_cast<float>(AM * *iy);
  if (temp > RNMX) return static_cast<float>(RNMX);
  return temp;
}

int draw_in_range(int min, int max, float u) {
  return static_cast<int>(min + static_cast<double>(u) * (static_cast<double>(max) - min + 1));
}

int iran_pll(int min, int max, int32_t *idum, int32_t *iy, int32_t *iv) {
  if (max < min) {
    refuse_input("Error in irandom boundaries: max (%d) < min (%d)\n", max, min);
  }
  return draw_in_range(min, max, ran1_pll(idum, iy, iv));
}

}  // namespace mogem::detail
