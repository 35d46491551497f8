// Codes of the distance metrics. The parameter file selects EUCLIDEAN or CORRELATION; under
// CORRELATION the engine keeps data rows and class means at unit length.
#ifndef MOGEM_DISTANCES_METRIC_CODES_H
#define MOGEM_DISTANCES_METRIC_CODES_H

namespace mogem::detail {

enum metric_code { EUCLIDEAN = 0, EUCLIDEAN_SQUARED = 1, CORRELATION = 2, CANBERRA = 3 };

}  // namespace mogem::detail

#endif
