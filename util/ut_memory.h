// Tracked memory of the numeric support library: heap blocks whose sizes are counted, so that
// a caller can tell how much it holds and has ever taken.
//
// Globals (0 at start, never reset, unsynchronised):
//  - ut_mem_used: bytes handed out and not yet given back;
//  - ut_mem_allocated: bytes ever handed out.
// Errors are reported as a location line (util/ut_output.h) followed by a message through
// log_printf, both on standard output.
#ifndef MOGEM_UTIL_UT_MEMORY_H
#define MOGEM_UTIL_UT_MEMORY_H

namespace mogem::detail {

extern int ut_mem_used;
extern int ut_mem_allocated;

// A block of `size` bytes, counted in both globals; zero-filled when ut_log_level is above 3
// ("debug"), left as the heap gives it otherwise. The heap's answer is returned unchecked.
// A size of 0 or less is refused: the error report gives the size, and the result is null.
void *malloc_and_track(int size);

// Releases a block from malloc_and_track and takes `size` off ut_mem_used. A null block is
// reported ("Tried to free a NULL pointer.") and nothing else happens.
void free_and_track(void *mem, int size);

}  // namespace mogem::detail

#endif
