#include "io/data_rows.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>

#include "io/number_stream.h"
#include "nr/nr_util.h"

namespace mogem::detail {

namespace {

// Numbers read from a stream between two calls of the checkpoint.
constexpr std::size_t NUMBERS_PER_RUN = 1 << 16;

// The numbers of a stream that is not a regular file, in order, in runs of NUMBERS_PER_RUN.
span_reading read_stream(const data_reading &r, std::size_t values, const number_sink &take) {
  number_stream numbers(r.fp);
  std::vector<double> run;
  run.reserve(std::min(values, NUMBERS_PER_RUN));
  std::size_t count = 0;
  while (count < values) {
    if (count > 0 && r.checkpoint) r.checkpoint();
    run.clear();
    const std::size_t wanted = std::min(values - count, NUMBERS_PER_RUN);
    number_status status = NUMBER_READ;
    double value;
    while (run.size() < wanted && (status = numbers.read(&value)) == NUMBER_READ) run.push_back(value);
    take(run.data(), run.size());
    count += run.size();
    if (status != NUMBER_READ) return {count, status};
  }
  return {count, NUMBER_READ};
}

// The most data values the rest of the open file can hold, or ULLONG_MAX when that cannot be
// told (a pipe, a device, a position the stream does not know). A value takes at least one
// character and white space goes before it: the value of "begin" ends only at white space, and
// a one-character value (a digit) can follow another value directly only when that one ends in
// a letter (inf, nan), which takes three characters or more. So n values need 2n bytes.
unsigned long long values_the_rest_can_hold(const data_section &section) {
  if (!section.regular) return ULLONG_MAX;
  return static_cast<unsigned long long>(section.end - section.begin) / 2;
}

}  // namespace

data_section data_section_of(FILE *fp) {
  struct stat file;
  if (fstat(fileno(fp), &file) != 0 || !S_ISREG(file.st_mode)) return {false, 0, 0};
  const long at = std::ftell(fp);
  if (at < 0) return {false, 0, 0};
  return {true, at, file.st_size > at ? static_cast<long long>(file.st_size) : at};
}

span_reading read_numbers(const data_reading &r, std::size_t values, const number_sink &take, bool in_order) {
  if (r.section.regular && !in_order)
    return read_span(r.filename, r.section.begin, r.section.end, values, r.threads, take, r.checkpoint);
  return read_stream(r, values, take);
}

void refuse_value(const data_reading &r, unsigned long long index, number_status status) {
  const unsigned long long cols = r.cols;
  const bool hint = r.nan_is_missing && status == NUMBER_NOT_A_NUMBER;
  refuse("Could not read data from the parameter file %s: row %llu, column %llu is %s (the file "
               "must hold %zu rows of %zu numbers after \"begin\" and its value%s)\n",
               r.filename, index / cols + 1, index % cols + 1, status == NUMBER_MISSING ? "missing" : "not a number",
               r.rows, r.cols, hint ? "; under missing_values em a missing value is written nan" : "");
}

unsigned long long matrix_values(std::size_t rows, std::size_t cols) {
  unsigned long long values = 0, bytes = 0;
  if (__builtin_mul_overflow(static_cast<unsigned long long>(rows), static_cast<unsigned long long>(cols), &values) ||
      __builtin_mul_overflow(values, sizeof(double), &bytes))
    NR_error("allocation failure 2 in matrix()");
  return values;
}

std::vector<double> allocate_matrix(unsigned long long values) {
  refuse_beyond_memory(values * sizeof(double), "allocation failure 2 in matrix()");
  std::vector<double> data;
  try {
    data.resize(static_cast<std::size_t>(values));
  } catch (const std::bad_alloc &) {
    NR_error("allocation failure 2 in matrix()");
  } catch (const std::length_error &) {
    NR_error("allocation failure 2 in matrix()");
  }
  return data;
}

std::vector<double> read_whole_matrix(const data_reading &r) {
  const unsigned long long values = matrix_values(r.rows, r.cols);
  const bool at_once = values <= values_the_rest_can_hold(r.section);
  std::vector<double> data = at_once ? allocate_matrix(values) : std::vector<double>();
  double *next = data.data();
  span_reading got{0, NUMBER_READ};
  try {
    got = read_numbers(r, static_cast<std::size_t>(values), [&](const double *run, std::size_t n) {
      if (at_once)
        next = std::copy(run, run + n, next);
      else
        data.insert(data.end(), run, run + n);
    });
  } catch (const std::bad_alloc &) {
    NR_error("allocation failure 2 in matrix()");
  }
  if (got.stop != NUMBER_READ) refuse_value(r, got.count, got.stop);
  return data;
}

void read_row_blocks(const data_reading &r, std::size_t rows_per_block,
                     const std::function<void(const double *values, std::size_t rows)> &on_rows) {
  const std::size_t block_values = r.cols * rows_per_block;
  std::vector<double> block;
  block.reserve(block_values);
  const number_sink take = [&](const double *run, std::size_t n) {
    while (n > 0) {
      const std::size_t part = std::min(n, block_values - block.size());
      block.insert(block.end(), run, run + part);
      run += part;
      n -= part;
      if (block.size() < block_values) continue;
      on_rows(block.data(), rows_per_block);
      block.clear();
    }
  };
  // In order on this thread: the blocks are the caller's work, which must not run on a reader's thread.
  const span_reading got = read_numbers(r, static_cast<std::size_t>(matrix_values(r.rows, r.cols)), take, true);
  if (got.stop != NUMBER_READ) refuse_value(r, got.count, got.stop);
  if (!block.empty()) on_rows(block.data(), block.size() / r.cols);
}

}  // namespace mogem::detail
