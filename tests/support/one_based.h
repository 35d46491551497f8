// One-based matrices and vectors of the numeric library filled from literals, released when they go out of scope.
#ifndef MOGEM_TESTS_SUPPORT_ONE_BASED_H
#define MOGEM_TESTS_SUPPORT_ONE_BASED_H

#include <vector>

#include "nr/nr_util.h"

using namespace mogem::detail;  // the tests reach into the engine

class literal_matrix {
 public:
  explicit literal_matrix(const std::vector<std::vector<double>> &rows)
      : rows_(static_cast<long>(rows.size())), cols_(rows.empty() ? 0 : static_cast<long>(rows[0].size())) {
    m_ = NR_dmatrix(1, rows_, 1, cols_);
    for (long i = 1; i <= rows_; i++)
      for (long j = 1; j <= cols_; j++) m_[i][j] = rows[i - 1][j - 1];
  }
  // rows x cols copies of fill; tests of routines that write a matrix pass a value that no
  // routine produces, so that an element left unwritten shows.
  literal_matrix(long rows, long cols, double fill) : rows_(rows), cols_(cols) {
    m_ = NR_dmatrix(1, rows_, 1, cols_);
    for (long i = 1; i <= rows_; i++)
      for (long j = 1; j <= cols_; j++) m_[i][j] = fill;
  }
  ~literal_matrix() { NR_free_dmatrix(m_, 1, rows_, 1, cols_); }
  literal_matrix(const literal_matrix &) = delete;
  literal_matrix &operator=(const literal_matrix &) = delete;

  double **get() const { return m_; }
  double *operator[](long i) const { return m_[i]; }
  std::vector<double> row(long i) const { return std::vector<double>(m_[i] + 1, m_[i] + 1 + cols_); }

 private:
  long rows_, cols_;
  double **m_;
};

// A one-based view of a literal vector: element 1 is values[0]. Element 0 is a sentinel.
class literal_vector {
 public:
  explicit literal_vector(std::vector<double> values) : storage_(std::move(values)) {
    storage_.insert(storage_.begin(), -99999.0);
  }
  double *get() { return storage_.data(); }

 private:
  std::vector<double> storage_;
};

#endif
