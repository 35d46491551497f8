// Failures in words. The numerical routines end a run with their own terse texts ("NR_dcholdc
// failed", "allocation failure 2 in matrix()"); where the engine knows the class, the EM step
// and the sizes, it tells the same failure again in the user's terms with what to change,
// naming `options` fields. The routine's text stays the error's in_file_terms(), the program's
// message, and so does its heading.
#ifndef MOGEM_ENGINE_FAILURES_H
#define MOGEM_ENGINE_FAILURES_H

#include <cstddef>
#include <string>

#include "engine/em_types.h"
#include "mogem/mogem.h"

namespace mogem::detail {

// Whether `cause` is a covariance that the factorisations (Cholesky, LU) refused.
bool is_factorisation_failure(const error &cause);

// Throws numerical_failure for the covariance of class k (1-based) that the E-step now running
// (m->estep, m->steps) could not factorise: the class, when, the cause read off the covariance
// (a start variance of zero, a feature that does not vary, rows on a line or a plane) and the
// remedy (reg_covar, fewer classes, the diagonal kind; other starting means at step 0).
[[noreturn]] void throw_singular_covariance(em_memory *m, int k, const error &cause);

// Throws numerical_failure for a model state of p's rows x features x classes that could not be
// had: the bytes of its largest part and of all of it, against the machine's memory and swap
// where the system says, and what to lower. data_copied: whether the state holds its own copy
// of the rows; predicting: the state is a prediction's (its remedy: fewer rows at a time).
[[noreturn]] void throw_beyond_memory(const em_parameters &p, bool data_copied, bool predicting, const error &cause);

// A byte count in words: "512 bytes", "3.5 KiB", "22 TiB" (two significant figures at least).
std::string bytes_in_words(double bytes);

// A count with thousands separated: 30000000 as "30,000,000".
std::string count_in_words(long long count);

}  // namespace mogem::detail

#endif
