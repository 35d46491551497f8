// The checks a fit makes before any work: the shape and values of the rows, the settings, the
// start the caller gives. Each throws mogem::error (invalid_input) naming the options field
// concerned; the program's words (its parameter-file keys) travel with it (error::about).
#ifndef MOGEM_ENGINE_FIT_CHECKS_H
#define MOGEM_ENGINE_FIT_CHECKS_H

#include <cstddef>
#include <string>

#include "mogem/mogem.h"

namespace mogem::detail {

// Rows and columns the engine can index: at least one of each, at most INT_MAX. what: what the
// message calls the rows ("the data").
void check_shape(std::size_t rows, std::size_t cols, const char *what);

// Every value finite. name: what the message calls the rows ("the data of in.txt"); first: the
// index, over all rows, of the first of these (the row numbers of the message count from it).
// holes_allowed (missing_values::em): a NaN is a missing value, and only an infinite value or a
// row with no observed value is refused.
void check_finite(const double *values, std::size_t rows, std::size_t cols, const std::string &name,
                  std::size_t first = 0, bool holes_allowed = false);

// Settings that no fit can run with, and a start that does not suit the fit or its `cols`
// features (a missing start, a model of other classes, kind, metric or features, means of
// another size or not finite).
void check_settings(const options &o, std::size_t cols);

}  // namespace mogem::detail

#endif
