#include "util/ut_output.h"

#include <cstdarg>
#include <cstring>

namespace mogem::detail {

int ut_log_level = 0;
FILE *ut_log_fp = stdout;
char ut_err_msg[256];

void log_printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void log_error_location(int line, const char *file) {
  std::fprintf(ut_log_fp, "--> Error, from line %d of file %s:\n    ", line, file);
}

int init_log_level_names(char **log_level_names) {
  static const char *const names[] = {"silent", "normal", "verbose", "debug"};
  for (int level = 1; level <= 4; level++) log_level_names[level] = strdup(names[level - 1]);
  return 0;
}

}  // namespace mogem::detail
