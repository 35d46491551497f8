// The module-held forms of the uniform generator: one stream for the whole process, for
// callers on one thread. The clustering library never uses them; each fit holds its own.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/random.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// The process's own stream: shuffle table and the table value the next call delivers;
// iy == 0 means "not seeded".
int32_t module_iy = 0;
int32_t module_iv[RAN1_TABLE_SIZE];

}  // namespace

float ran1(int32_t *idum) { return ran1_pll(idum, &module_iy, module_iv); }

ran1_stream ran1_module_stream() { return ran1_stream{&module_iy, module_iv}; }

int iran(int min, int max, int32_t *idum) {
  if (max < min) {
    refuse_input("Error in iran boundaries (random): max (%d) < min (%d)\n", max, min);
  }
  return draw_in_range(min, max, ran1(idum));
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
