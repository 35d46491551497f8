#include "nr/nr_util.h"

#include <sys/sysinfo.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "mogem/mogem.h"
#include "nr/nr_blocks.h"

namespace mogem::detail {

using namespace nr_blocks;

void NR_error(const char *error_text) {
  throw error(error::kind::numerical_failure, error_text).with_own_heading();
}

namespace {

// Asked once: every container of every E-step passes through the check below, and a system
// call each time cost more than a small fit's arithmetic.
unsigned long long ask_machine_memory() {
  struct sysinfo machine;
  if (sysinfo(&machine) != 0) return ULLONG_MAX;
  const unsigned long long unit = machine.mem_unit ? machine.mem_unit : 1;
  return (static_cast<unsigned long long>(machine.totalram) + static_cast<unsigned long long>(machine.totalswap)) *
         unit;
}

}  // namespace

unsigned long long machine_memory() {
  static const unsigned long long all = ask_machine_memory();
  return all;
}

void refuse_beyond_memory(unsigned long long bytes, const char *failure_text) {
  if (bytes > machine_memory()) NR_error(failure_text);
}

namespace {

std::string vformat(const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

std::string format_text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  return text;
}

void refuse_input(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  throw error(error::kind::invalid_input, text).with_own_heading();
}

void refuse(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  throw error(error::kind::invalid_input, text);
}

double *NR_dvector(long nl, long nh) { return vector_block<double>(nl, nh, "allocation failure in dvector()"); }

void NR_free_dvector(double *v, long nl, long) { free_vector_block(v, nl); }

int *NR_ivector(long nl, long nh) { return vector_block<int>(nl, nh, "allocation failure in ivector()"); }

void NR_free_ivector(int *v, long nl, long) { free_vector_block(v, nl); }

double **NR_dmatrix(long nrl, long nrh, long ncl, long nch) { return matrix_block<double>(nrl, nrh, ncl, nch); }

void NR_free_dmatrix(double **m, long nrl, long, long ncl, long) { free_matrix_block(m, nrl, ncl); }

double ***NR_d3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  static const char *const texts[3] = {"allocation failure 1 in NR_d3tensor()", "allocation failure 2 in NR_d3tensor()",
                                       "allocation failure 3 in NR_d3tensor()"};
  return tensor_block<double>(nrl, nrh, ncl, nch, ndl, ndh, texts);
}

void NR_free_d3tensor(double ***t, long nrl, long, long ncl, long, long ndl, long) {
  free_tensor_block(t, nrl, ncl, ndl);
}

}  // namespace mogem::detail
