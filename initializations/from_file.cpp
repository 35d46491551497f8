#include <cstdio>

#include "initializations/init_means.h"
#include "nr/nr_util.h"

namespace mogem::detail {

void from_file(double **means, int features, int classes, const char *file) {
  // Means that were never read must not be clustered from: every failure ends the run.
  if (!file) {
    std::fprintf(stderr, "NULL filename\n");
    throw run_exit{-1};
  }
  FILE *fp = std::fopen(file, "r");
  if (!fp) {
    std::fprintf(stderr, "Could not open file %s\n", file);
    throw run_exit{-1};
  }
  const long long needed = static_cast<long long>(classes) * features;
  long long found = 0;
  for (int k = 1; k <= classes; k++) {
    for (int j = 1; j <= features; j++) {
      // Means carry single precision: each number is read as a float and widened.
      float value;
      if (std::fscanf(fp, "%f", &value) != 1) {
        std::fclose(fp);
        std::fprintf(stderr,
                     "Error: the means file %s holds %lld readable numbers; %lld are needed (%d classes x %d "
                     "features)\n",
                     file, found, needed, classes, features);
        throw run_exit{-1};
      }
      means[k][j] = value;
      found++;
    }
  }
  std::fclose(fp);
}

}  // namespace mogem::detail
