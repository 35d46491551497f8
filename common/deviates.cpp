#include "common/deviates.h"

#include <cmath>
#include <cstdio>

#include "common/random.h"
#include "nr/nr_util.h"

namespace mogem::detail {

// The generators are defined in single precision, and their sequences depend on each
// rounding: values live in floats, while every exp/log/sqrt/tan and every mixed expression
// with a double constant is evaluated in double and rounded on assignment. The casts to double make the C library's
// double functions run where C++ would otherwise pick their float overloads.

namespace {

// Pi to the ten digits the generators are defined with; part of their sequences.
constexpr double PI = 3.141592654;

// Caches of the plain forms: one process-wide set, initialised as a new stream's.
int module_iset = 0;
float module_gset;
float module_sq, module_alxm, module_g, module_oldm = -1.0f;
int module_nold = -1;
float module_pold = -1.0f, module_pc, module_plog, module_pclog, module_en, module_oldg;

}  // namespace

float expdev_pll(int32_t *idum, int32_t *iy, int32_t *iv) {
  float dum;
  do dum = ran1_pll(idum, iy, iv);
  while (dum == 0.0f);
  return static_cast<float>(-std::log(static_cast<double>(dum)));
}

float gasdev_pll(int32_t *idum, int32_t *iy, int32_t *iv, int *iset, float *gset) {
  if (*iset) {
    *iset = 0;
    return *gset;
  }
  float v1, v2, rsq;
  do {
    v1 = static_cast<float>(2.0 * ran1_pll(idum, iy, iv) - 1.0);
    v2 = static_cast<float>(2.0 * ran1_pll(idum, iy, iv) - 1.0);
    rsq = v1 * v1 + v2 * v2;
  } while (rsq >= 1.0f || rsq == 0.0f);
  float fac = static_cast<float>(std::sqrt(-2.0 * std::log(static_cast<double>(rsq)) / rsq));
  *gset = v1 * fac;
  *iset = 1;
  return v2 * fac;
}

float gamdev_pll(int ia, int32_t *idum, int32_t *iy, int32_t *iv) {
  if (ia < 1) {
    refuse_input("Error in gamdev: ia = %d < 1\n", ia);
  }
  float x;
  if (ia <= 5) {
    x = 1.0f;
    for (int j = 1; j <= ia; j++) x *= ran1_pll(idum, iy, iv);
    return static_cast<float>(-std::log(static_cast<double>(x)));
  }
  float e;
  do {
    float v1, v2, y, am, s;
    do {
      do {
        v1 = static_cast<float>(2.0 * ran1_pll(idum, iy, iv) - 1.0);
        v2 = static_cast<float>(2.0 * ran1_pll(idum, iy, iv) - 1.0);
      } while (v1 * v1 + v2 * v2 > 1.0f);
      y = v2 / v1;
      am = static_cast<float>(ia - 1);
      s = static_cast<float>(std::sqrt(2.0 * am + 1.0));
      x = s * y + am;
    } while (x <= 0.0f);
    e = static_cast<float>((1.0 + y * y) * std::exp(am * std::log(static_cast<double>(x / am)) - s * y));
  } while (ran1_pll(idum, iy, iv) > e);
  return x;
}

float poidev_pll(float xm, int32_t *idum, int32_t *iy, int32_t *iv, float *sq, float *alxm, float *g, float *oldm) {
  float em, t;
  if (xm < 12.0f) {
    if (xm != *oldm) {
      *oldm = xm;
      *g = static_cast<float>(std::exp(-static_cast<double>(xm)));
    }
    em = -1.0f;
    t = 1.0f;
    do {
      em += 1.0f;
      t *= ran1_pll(idum, iy, iv);
    } while (t > *g);
    return em;
  }
  if (xm != *oldm) {
    *oldm = xm;
    *sq = static_cast<float>(std::sqrt(2.0 * xm));
    *alxm = static_cast<float>(std::log(static_cast<double>(xm)));
    *g = xm * *alxm - gammln(static_cast<float>(xm + 1.0));
  }
  do {
    float y;
    do {
      y = static_cast<float>(std::tan(PI * ran1_pll(idum, iy, iv)));
      em = *sq * y + xm;
    } while (em < 0.0f);
    em = static_cast<float>(std::floor(static_cast<double>(em)));
    t = static_cast<float>(0.9 * (1.0 + y * y) *
                           std::exp(static_cast<double>(em * *alxm - gammln(static_cast<float>(em + 1.0)) - *g)));
  } while (ran1_pll(idum, iy, iv) > t);
  return em;
}

float bnldev_pll(float pp, int n, int32_t *idum, int32_t *iy, int32_t *iv, int *nold, float *pold, float *pc,
                 float *plog, float *pclog, float *en, float *oldg) {
  float p = pp <= 0.5f ? pp : static_cast<float>(1.0 - pp);
  float am = n * p;
  float bnl;
  if (n < 25) {
    bnl = 0.0f;
    for (int j = 1; j <= n; j++)
      if (ran1_pll(idum, iy, iv) < p) bnl += 1.0f;
  } else if (am < 1.0f) {
    float g = static_cast<float>(std::exp(-static_cast<double>(am)));
    float t = 1.0f;
    int j;
    for (j = 0; j <= n; j++) {
      t *= ran1_pll(idum, iy, iv);
      if (t < g) break;
    }
    bnl = static_cast<float>(j <= n ? j : n);
  } else {
    if (n != *nold) {
      *en = static_cast<float>(n);
      *oldg = gammln(static_cast<float>(*en + 1.0));
      *nold = n;
    }
    if (p != *pold) {
      *pc = static_cast<float>(1.0 - p);
      *plog = static_cast<float>(std::log(static_cast<double>(p)));
      *pclog = static_cast<float>(std::log(static_cast<double>(*pc)));
      *pold = p;
    }
    float sq = static_cast<float>(std::sqrt(2.0 * am * *pc));
    float em, t;
    do {
      float y;
      do {
        float angle = static_cast<float>(PI * ran1_pll(idum, iy, iv));
        y = static_cast<float>(std::tan(static_cast<double>(angle)));
        em = sq * y + am;
      } while (em < 0.0f || em >= (*en + 1.0));
      em = static_cast<float>(std::floor(static_cast<double>(em)));
      float exponent = *oldg - gammln(static_cast<float>(em + 1.0)) - gammln(static_cast<float>(*en - em + 1.0)) +
                       em * *plog + (*en - em) * *pclog;
      t = static_cast<float>(1.2 * sq * (1.0 + y * y) * std::exp(static_cast<double>(exponent)));
    } while (ran1_pll(idum, iy, iv) > t);
    bnl = em;
  }
  if (p != pp) bnl = n - bnl;
  return bnl;
}

// The plain forms: the twins on the process's stream and caches.

float expdev(int32_t *idum) {
  ran1_stream s = ran1_module_stream();
  return expdev_pll(idum, s.iy, s.iv);
}

float gasdev(int32_t *idum) {
  ran1_stream s = ran1_module_stream();
  return gasdev_pll(idum, s.iy, s.iv, &module_iset, &module_gset);
}

float gamdev(int ia, int32_t *idum) {
  ran1_stream s = ran1_module_stream();
  return gamdev_pll(ia, idum, s.iy, s.iv);
}

float poidev(float xm, int32_t *idum) {
  ran1_stream s = ran1_module_stream();
  return poidev_pll(xm, idum, s.iy, s.iv, &module_sq, &module_alxm, &module_g, &module_oldm);
}

float bnldev(float pp, int n, int32_t *idum) {
  ran1_stream s = ran1_module_stream();
  return bnldev_pll(pp, n, idum, s.iy, s.iv, &module_nold, &module_pold, &module_pc, &module_plog, &module_pclog,
                    &module_en, &module_oldg);
}

}  // namespace mogem::detail
