// Scratch containers owned by the routine that makes them.
//
// Each holder allocates with the numeric library's allocator on construction and releases on
// destruction, so a routine's scratch is released before it returns, and also when a fatal
// error (NR_error, which throws mogem::error) leaves the routine half-way. Indexing and layout are
// those of the underlying container (nr_util.h).
#ifndef MOGEM_NR_NR_SCOPED_H
#define MOGEM_NR_NR_SCOPED_H

#include "nr/nr_util.h"

namespace mogem::detail {

class scoped_dvector {
 public:
  scoped_dvector(long nl, long nh) : v_(NR_dvector(nl, nh)), nl_(nl), nh_(nh) {}
  ~scoped_dvector() { NR_free_dvector(v_, nl_, nh_); }
  scoped_dvector(const scoped_dvector &) = delete;
  scoped_dvector &operator=(const scoped_dvector &) = delete;
  double *get() const { return v_; }

 private:
  double *v_;
  long nl_, nh_;
};

class scoped_ivector {
 public:
  scoped_ivector(long nl, long nh) : v_(NR_ivector(nl, nh)), nl_(nl), nh_(nh) {}
  ~scoped_ivector() { NR_free_ivector(v_, nl_, nh_); }
  scoped_ivector(const scoped_ivector &) = delete;
  scoped_ivector &operator=(const scoped_ivector &) = delete;
  int *get() const { return v_; }

 private:
  int *v_;
  long nl_, nh_;
};

class scoped_dmatrix {
 public:
  scoped_dmatrix(long nrl, long nrh, long ncl, long nch)
      : m_(NR_dmatrix(nrl, nrh, ncl, nch)), nrl_(nrl), nrh_(nrh), ncl_(ncl), nch_(nch) {}
  ~scoped_dmatrix() { NR_free_dmatrix(m_, nrl_, nrh_, ncl_, nch_); }
  scoped_dmatrix(const scoped_dmatrix &) = delete;
  scoped_dmatrix &operator=(const scoped_dmatrix &) = delete;
  double **get() const { return m_; }

 private:
  double **m_;
  long nrl_, nrh_, ncl_, nch_;
};

}  // namespace mogem::detail

#endif
