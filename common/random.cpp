#include "common/random.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

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

// The process's own stream: shuffle table and the table value the next call delivers;
// iy == 0 means "not seeded".
int32_t module_iy = 0;
int32_t module_iv[NTAB];

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

float ran1(int32_t *idum) { return ran1_pll(idum, &module_iy, module_iv); }

ran1_stream ran1_module_stream() { return ran1_stream{&module_iy, module_iv}; }

namespace {

int draw_in_range(int min, int max, float u) {
  return static_cast<int>(min + static_cast<double>(u) * (static_cast<double>(max) - min + 1));
}

}  // namespace

int iran(int min, int max, int32_t *idum) {
  if (max < min) {
    std::fprintf(stderr, "Error in iran boundaries (random): max (%d) < min (%d)\n", max, min);
    throw run_exit{-1};
  }
  return draw_in_range(min, max, ran1(idum));
}

int iran_pll(int min, int max, int32_t *idum, int32_t *iy, int32_t *iv) {
  if (max < min) {
    std::fprintf(stderr, "Error in irandom boundaries: max (%d) < min (%d)\n", max, min);
    throw run_exit{-1};
  }
  return draw_in_range(min, max, ran1_pll(idum, iy, iv));
}

double dran(double min, double max, int32_t *idum) {
  if (min > max) std::fprintf(stderr, "Error in dran boundries (random): max (%f) < mix (%f)\n", max, min);
  double u = ran1(idum);
  return min + u * (max - min);
}

int32_t seed() {
  std::time_t now = std::time(nullptr);
  const std::tm *t = std::localtime(&now);
  // Summed with 32-bit wrap-around; rand() alone may come close to the top of the range.
  uint32_t sum = 0;
  if (t) {
    sum += static_cast<uint32_t>(t->tm_hour) + static_cast<uint32_t>(t->tm_min) + static_cast<uint32_t>(t->tm_sec) +
           static_cast<uint32_t>(t->tm_wday) + static_cast<uint32_t>(t->tm_year) + static_cast<uint32_t>(t->tm_yday);
  }
  sum += static_cast<uint32_t>(std::rand());
  return static_cast<int32_t>(0u - sum);
}

}  // namespace mogem::detail
