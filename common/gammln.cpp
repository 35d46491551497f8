#include <cmath>

#include "common/deviates.h"

namespace mogem::detail {

namespace {

// The series is evaluated in double and rounded to float only at the end.
float lanczos_log_gamma(float xx, const double (&cof)[6]) {
  double x = xx, y = xx;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (double c : cof) ser += c / ++y;
  return static_cast<float>(std::log(2.5066282746310005 * ser / x) - tmp);
}

constexpr double gammln_coefficients[6] = {76.18009172947146,     -86.50532032941677,    24.01409824083091,
                                           -1.231739572450155,    0.1208650973866179e-2, -0.5395239384953e-5};

}  // namespace

float gammln(float xx) { return lanczos_log_gamma(xx, gammln_coefficients); }

// A table of its own, so that this form shares no storage with the other.
float gammln_pll(float xx) {
  static constexpr double cof[6] = {76.18009172947146,     -86.50532032941677,    24.01409824083091,
                                    -1.231739572450155,    0.1208650973866179e-2, -0.5395239384953e-5};
  return lanczos_log_gamma(xx, cof);
}

}  // namespace mogem::detail
