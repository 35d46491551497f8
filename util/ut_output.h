// Logging of the numeric support library: a printf-style writer to standard output and the
// error-location line its routines put in front of their error messages.
//
// Globals (one instance each, for the whole process, unsynchronised):
//  - ut_log_level: verbosity, 0 at start; levels follow init_log_level_names (1 "silent",
//    2 "normal", 3 "verbose", 4 "debug"). log_printf does not filter on it; its only reader
//    is malloc_and_track.
//  - ut_log_fp: where location lines go; standard output, the stream log_printf writes to, so
//    that the message printed next completes the indented location line.
//  - ut_err_msg: a buffer library routines format an error text into before logging it.
#ifndef MOGEM_UTIL_UT_OUTPUT_H
#define MOGEM_UTIL_UT_OUTPUT_H

#include <cstdio>

namespace mogem::detail {

extern int ut_log_level;
extern FILE *ut_log_fp;
extern char ut_err_msg[256];

// Formats as printf does and writes the result to standard output; no level filter, no
// prefix, no line end of its own.
void log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes "--> Error, from line <line> of file <file>:\n    " to ut_log_fp: the first half of
// an error report whose message follows through log_printf.
void log_error_location(int line, const char *file);

// Stores newly allocated copies of "silent", "normal", "verbose" and "debug" in entries 1..4
// of the caller's array (entry 0 is left alone); the caller owns and frees them. Returns 0.
int init_log_level_names(char **log_level_names);

}  // namespace mogem::detail

#endif
