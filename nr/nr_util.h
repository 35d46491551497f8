// One-based containers and the fatal run-time error of the numeric library.
//
// A vector made for the range nl..nh is indexed v[nl]..v[nh] directly; a matrix made for
// rows nrl..nrh and columns ncl..nch is indexed m[i][j]; a 3-tensor t[i][j][k]. The handles
// are plain heap blocks reached through offset pointers: no size is stored with them, the
// caller keeps the bounds and hands the low bounds back at release.
//
// Layout guarantees the engine relies on:
//  - every block has one spare element in front of the usable ones, never touched here;
//  - a matrix is one contiguous row-major run: m[i][j] is element 1 + (i-nrl)*ncol + (j-ncl)
//    of its element block, so for nrl = ncl = 1 the whole content starts at m[1][1];
//  - a 3-tensor is contiguous too: all values of one t[i] follow each other, and t[i+1]
//    follows t[i].
//
// Contents are not initialised. Allocators never return null: when memory cannot be had, or
// when the requested byte count does not fit in the address space (the size products are
// checked), or when a range is negative, they end the run through NR_error with their own
// text. Low bounds other than 1 are valid, but the system itself always uses 1.
#ifndef MOGEM_NR_NR_UTIL_H
#define MOGEM_NR_NR_UTIL_H

#include <string>

namespace mogem::detail {

// The fatal numeric condition: throws mogem::error of kind numerical_failure whose message is
// error_text. Nothing is printed here; the program writes the message framed by its
// "Numerical Recipes run-time error..." and "...now exiting to system..." lines and ends with
// exit status 1.
[[noreturn]] void NR_error(const char *error_text);

// Ends the run through NR_error(failure_text) when `bytes` exceed what this machine could ever
// give (its memory and swap together): such a request is refused before it is tried, so that
// no allocator, however it reports failure, is asked for it.
void refuse_beyond_memory(unsigned long long bytes, const char *failure_text);

// The machine's memory and swap together in bytes, ULLONG_MAX when the system does not say.
unsigned long long machine_memory();

// Input the run cannot use: throws mogem::error of kind invalid_input with the printf-style
// message (one final line break dropped); the program prints it and ends with exit code -1.
// refuse: a sentence, which the program heads with "Error: "; refuse_input: a message that
// carries its own heading ("Error in parameter file ...") and is printed as it is.
[[noreturn]] void refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void refuse_input(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The printf-style text (one final line break dropped).
std::string format_text(const char *format, ...) __attribute__((format(printf, 1, 2)));

double *NR_dvector(long nl, long nh);
void NR_free_dvector(double *v, long nl, long nh);

int *NR_ivector(long nl, long nh);
void NR_free_ivector(int *v, long nl, long nh);

double **NR_dmatrix(long nrl, long nrh, long ncl, long nch);
void NR_free_dmatrix(double **m, long nrl, long nrh, long ncl, long nch);

double ***NR_d3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void NR_free_d3tensor(double ***t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

}  // namespace mogem::detail

#endif
