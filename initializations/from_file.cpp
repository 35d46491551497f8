#include <cstdio>

#include "initializations/init_means.h"
#include "nr/nr_util.h"

namespace mogem::detail {

void from_file(double **means, int features, int classes, const char *file) {
  // Means that were never read must not be clustered from: every failure ends the run.
  if (!file) {
    refuse_input("NULL filename\n");
  }
  FILE *fp = std::fopen(file, "r");
  if (!fp) {
    refuse_input("Could not open file %s\n", file);
  }
  const long long needed = static_cast<long long>(classes) * features;
  long long found = 0;
  for (int k = 1; k <= classes; k++) {
    for (int j = 1; j <= features; j++) {
      // Means carry single precision: each number is read as a float and widened.
      float value;
      if (std::fscanf(fp, "%f", &value) != 1) {
        std::fclose(fp);
        refuse(
            "the means file %s holds %lld readable numbers; %lld are needed (%d classes x %d "
            "features)",
            file, found, needed, classes, features);
      }
      means[k][j] = value;
      found++;
    }
  }
  std::fclose(fp);
}

}  // namespace mogem::detail
