// Random deviates of the exponential, normal, gamma, Poisson and binomial distributions, and
// the log-gamma function two of them need. All are built on the uniform generator ran1.
//
// Every generator comes in two forms that run the same steps and draw the same uniforms:
//  - the plain form (expdev, gasdev, ...) draws from the process's own ran1 stream and keeps
//    its cached values in this module, so it serves one thread;
//  - the _pll form takes the stream (idum, iy, iv as for ran1_pll) and every cached value from
//    the caller, keeps nothing between calls, and so lets each thread own a stream. A caller
//    creates a stream by setting *idum negative or *iy to 0, and initialises the caches as the
//    parameter comments say.
// Deviates are delivered in single precision. The routines that end the run on a bad argument
// refuse it through refuse_input (nr/nr_util.h), which throws mogem::error with the message.
#ifndef MOGEM_COMMON_DEVIATES_H
#define MOGEM_COMMON_DEVIATES_H

#include <cstdint>

namespace mogem::detail {

// Exponential with mean 1: -ln u, for the first uniform u that is not 0.
float expdev(int32_t *idum);
float expdev_pll(int32_t *idum, int32_t *iy, int32_t *iv);

// Standard normal by the polar method. Each accepted pair of uniforms yields two deviates: the
// second is cached (iset = 1, gset = value) and delivered, without a draw, by the next call.
// A new caller-held stream starts with *iset = 0.
float gasdev(int32_t *idum);
float gasdev_pll(int32_t *idum, int32_t *iy, int32_t *iv, int *iset, float *gset);

// Gamma with integer shape ia >= 1 and scale 1: -ln of a product of ia uniforms for ia <= 5,
// a rejection method above. ia < 1 ends the run ("Error in gamdev: ia = %d < 1").
float gamdev(int ia, int32_t *idum);
float gamdev_pll(int ia, int32_t *idum, int32_t *iy, int32_t *iv);

// Gamma with real shape a >= 1 and scale 1. An integer a is gamdev_pll; otherwise 100
// deviates of shape trunc(a) are resampled by their density ratio, and one more uniform picks
// among them. a < 1 ends the run ("Problem in gammadev_pll:  a = %.4f").
float gammadev_pll(double a, int32_t *idum, int32_t *iy, int32_t *iv);

// Poisson with mean xm (>= 0): the product-of-uniforms method below 12, a rejection method
// with a Lorentzian comparison from 12 on. The caches hold values derived from the previous
// mean; a new caller-held stream starts with *oldm = -1 (sq, alxm, g need no initial value).
float poidev(float xm, int32_t *idum);
float poidev_pll(float xm, int32_t *idum, int32_t *iy, int32_t *iv, float *sq, float *alxm, float *g, float *oldm);

// Binomial: the number of successes in n trials of probability pp, delivered as a float.
// Works with p = min(pp, 1 - pp) and returns n minus the count when the complement was used.
// The caches hold values derived from the previous n and p; a new caller-held stream starts
// with *nold = -1 and *pold = -1 (the others need no initial value).
float bnldev(float pp, int n, int32_t *idum);
float bnldev_pll(float pp, int n, int32_t *idum, int32_t *iy, int32_t *iv, int *nold, float *pold, float *pc,
                 float *plog, float *pclog, float *en, float *oldg);

// ln Gamma(xx) for xx > 0 (not checked) by the six-term Lanczos series, rounded to float.
// gammln_pll is the same computation with a coefficient table of its own.
float gammln(float xx);
float gammln_pll(float xx);

// Sorts a[min..max] (pairs of doubles) ascending by their first element, in place, by
// quicksort over Hoare's partition (partitionD returns the split index). Equal keys may be
// reordered; the pair's second element moves with its first.
void quickSortD(double a[][2], int min, int max);
int partitionD(double a[][2], int p, int r);

}  // namespace mogem::detail

#endif
