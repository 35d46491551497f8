// One-based containers that own their memory and know their sizes.
//
// The same indexing and layout as the numeric library's handles (nr_util.h): v[1..n],
// m[1..rows][1..cols] with every row a contiguous run and the rows one after the other,
// t[1..planes][1..rows][1..cols] likewise, one spare value in front of the first. get() gives
// the handle itself (double *, double **, double ***) for the one-based routines that take it.
// The values start at zero. The containers move (handles stay valid) but do not copy; they
// release everything when they go.
//
// Memory that cannot be had ends the run through NR_error with the allocators' own texts
// ("allocation failure in dvector()", "allocation failure 2 in matrix()", ...), as does a
// byte count beyond what the machine could ever give (refuse_beyond_memory), before it is
// tried.
#ifndef MOGEM_NR_ONE_BASED_H
#define MOGEM_NR_ONE_BASED_H

#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "nr/nr_util.h"

namespace mogem::detail {

namespace one_based_detail {

// count * factor without overflow, or NR_error(failure_text).
inline long long times(long long count, long long factor, const char *failure_text) {
  long long product;
  if (count < 0 || factor < 0 || __builtin_mul_overflow(count, factor, &product)) NR_error(failure_text);
  return product;
}

// values as `count` + 1 elements of T, zero, or NR_error(failure_text).
template <typename T>
void make(std::vector<T> &values, long long count, const char *failure_text) {
  long long with_spare;
  if (__builtin_add_overflow(count, 1, &with_spare)) NR_error(failure_text);
  refuse_beyond_memory(static_cast<unsigned long long>(times(with_spare, sizeof(T), failure_text)), failure_text);
  try {
    values.assign(static_cast<std::size_t>(count) + 1, T{});
  } catch (const std::bad_alloc &) {
    NR_error(failure_text);
  } catch (const std::length_error &) {
    NR_error(failure_text);
  }
}

}  // namespace one_based_detail

// Values 1..n of T, double or int.
template <typename T>
class one_based_vector {
  static_assert(std::is_same_v<T, double> || std::is_same_v<T, int>, "a vector of double or int");

 public:
  one_based_vector() = default;
  explicit one_based_vector(long n)
      : one_based_vector(n, std::is_same_v<T, int> ? "allocation failure in ivector()" : "allocation failure in dvector()") {}
  // For a routine that names itself when memory cannot be had.
  one_based_vector(long n, const char *failure_text) { one_based_detail::make(values_, n, failure_text); }
  T &operator[](long i) { return values_.data()[i]; }
  const T &operator[](long i) const { return values_.data()[i]; }
  T *get() { return values_.data(); }
  const T *get() const { return values_.data(); }
  long size() const { return values_.empty() ? 0 : static_cast<long>(values_.size()) - 1; }
  bool empty() const { return size() == 0; }

 private:
  std::vector<T> values_;  // [0] is the spare value
};

// Rows 1..rows of cols values each, its own or the caller's.
class one_based_matrix {
 public:
  one_based_matrix() = default;
  one_based_matrix(long rows, long cols) : rows_(rows), cols_(cols) {
    make_pointers();
    one_based_detail::make(values_, one_based_detail::times(rows, cols, VALUES_FAILURE), VALUES_FAILURE);
    point_rows(values_.data());
  }
  // The caller's row-major rows x cols values (no spare value in front), read and written in
  // place and never released here.
  static one_based_matrix borrow(double *values, long rows, long cols) {
    one_based_matrix m;
    m.rows_ = rows, m.cols_ = cols;
    m.make_pointers();
    m.point_rows(values - 1);
    return m;
  }
  one_based_matrix(one_based_matrix &&) = default;
  one_based_matrix &operator=(one_based_matrix &&) = default;
  double *operator[](long r) const { return pointers_.data()[r]; }
  double **get() { return pointers_.data(); }
  long rows() const { return rows_; }
  long cols() const { return cols_; }
  // The values row after row, with the spare value in front, moved out; the matrix is empty
  // afterwards. Empty when the values are the caller's.
  std::vector<double> take_values() {
    pointers_.clear();
    rows_ = cols_ = 0;
    return std::move(values_);
  }

 private:
  static constexpr const char *ROWS_FAILURE = "allocation failure 1 in matrix()";
  static constexpr const char *VALUES_FAILURE = "allocation failure 2 in matrix()";
  // Row 1 is pointed at even when there are no rows, so that &m[1][1] is where the (no)
  // values start.
  void make_pointers() { one_based_detail::make(pointers_, rows_ > 0 ? rows_ : 1, ROWS_FAILURE); }
  // Element [r][c] at first[(r - 1) * cols + c].
  void point_rows(double *first) {
    for (long r = 1; r <= (rows_ > 0 ? rows_ : 1); r++) pointers_[r] = first + (r - 1) * cols_;
  }
  std::vector<double> values_;      // empty when the values are the caller's
  std::vector<double *> pointers_;  // [r]: row r; [0] unused
  long rows_ = 0, cols_ = 0;
};

// Planes 1..planes, each a matrix of rows x cols; the planes follow one another.
class one_based_tensor {
 public:
  one_based_tensor() = default;
  one_based_tensor(long planes, long rows, long cols) {
    static const char *const failure[3] = {"allocation failure 1 in NR_d3tensor()",
                                           "allocation failure 2 in NR_d3tensor()",
                                           "allocation failure 3 in NR_d3tensor()"};
    one_based_detail::make(planes_, planes, failure[0]);
    const long long plane_rows = one_based_detail::times(planes, rows, failure[1]);
    one_based_detail::make(rows_, plane_rows, failure[1]);
    one_based_detail::make(values_, one_based_detail::times(plane_rows, cols, failure[2]), failure[2]);
    double *row = values_.data();
    for (long long r = 1; r <= plane_rows; r++, row += cols) rows_[r] = row;
    double **plane = rows_.data();
    for (long p = 1; p <= planes; p++, plane += rows) planes_[p] = plane;
  }
  one_based_tensor(one_based_tensor &&) = default;
  one_based_tensor &operator=(one_based_tensor &&) = default;
  double **operator[](long p) const { return planes_.data()[p]; }
  double ***get() { return planes_.data(); }
  long planes() const { return planes_.empty() ? 0 : static_cast<long>(planes_.size()) - 1; }

 private:
  std::vector<double> values_;
  std::vector<double *> rows_;
  std::vector<double **> planes_;
};

}  // namespace mogem::detail

#endif
