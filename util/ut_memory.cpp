#include "util/ut_memory.h"

#include <cstdlib>

#include "util/ut_output.h"

namespace mogem::detail {

int ut_mem_used = 0;
int ut_mem_allocated = 0;

namespace {

constexpr int DEBUG_LEVEL = 4;

}  // namespace

void *malloc_and_track(int size) {
  if (size <= 0) {
    log_error_location(__LINE__, __FILE__);
    log_printf("Refused to allocate %d bytes.\n", size);
    return nullptr;
  }
  ut_mem_used += size;
  ut_mem_allocated += size;
  if (ut_log_level >= DEBUG_LEVEL) return std::calloc(1, static_cast<std::size_t>(size));
  return std::malloc(static_cast<std::size_t>(size));
}

void free_and_track(void *mem, int size) {
  if (!mem) {
    log_error_location(__LINE__, __FILE__);
    log_printf("Tried to free a NULL pointer.\n");
    return;
  }
  ut_mem_used -= size;
  std::free(mem);
}

}  // namespace mogem::detail
