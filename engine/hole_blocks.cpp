#include "engine/hole_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

namespace mogem::detail {

hole_patterns find_hole_patterns(const double *values, int rows, int F) {
  hole_patterns found;
  found.pattern_of_row.resize(rows > 0 ? rows : 0);
  // A row's pattern as F letters ('o' observed, 'm' missing): the key of its number. The numbers
  // come from the order of first appearance, never from the map's order.
  std::unordered_map<std::string, int> number_of;
  std::string key(F > 0 ? F : 0, 'o');
  for (int i = 1; i <= rows; i++) {
    const double *row = values + static_cast<long long>(i - 1) * F;
    for (int j = 0; j < F; j++) key[j] = std::isnan(row[j]) ? 'm' : 'o';
    auto [at, is_new] = number_of.try_emplace(key, static_cast<int>(found.patterns.size()));
    if (is_new) {
      hole_pattern pattern;
      for (int j = 1; j <= F; j++) (key[j - 1] == 'm' ? pattern.missing : pattern.observed).push_back(j);
      found.patterns.push_back(std::move(pattern));
    }
    found.patterns[at->second].rows.push_back(i);
    found.pattern_of_row[i - 1] = at->second;
  }
  return found;
}

bool factor_pattern(const double *covariance, int F, const hole_pattern &pattern, pattern_factor *out) {
  const std::vector<int> &o = pattern.observed, &m = pattern.missing;
  const int n = static_cast<int>(o.size()), q = static_cast<int>(m.size());
  auto sigma = [&](int r, int c) { return covariance[static_cast<long long>(r - 1) * F + (c - 1)]; };
  std::vector<double> &L = out->lower;
  L.assign(static_cast<std::size_t>(n) * n, 0.0);
  out->inverse_diagonal.resize(n);
  out->log_det = 0.0;

  // Cholesky of Sigma_oo column by column: L(t, u) = (Sigma(o_t, o_u) - sum_{v<u} L(t, v) L(u, v)) / L(u, u).
  for (int u = 0; u < n; u++) {
    for (int t = u; t < n; t++) {
      double s = sigma(o[t], o[u]);
      for (int v = 0; v < u; v++) s -= L[v * n + t] * L[v * n + u];
      if (t == u) {
        if (!(s > 0.0)) return false;  // also NaN
        out->log_det += std::log(s);
        L[u * n + u] = std::sqrt(s);
        out->inverse_diagonal[u] = 1.0 / L[u * n + u];
      } else {
        L[u * n + t] = s / L[u * n + u];
      }
    }
  }
  std::vector<double> &U = out->unit_lower;
  U.assign(static_cast<std::size_t>(n) * n, 0.0);
  for (int u = 0; u < n; u++)
    for (int t = u; t < n; t++) U[u * n + t] = L[u * n + t] / L[u * n + u];

  // Row a of regression first holds w_a = L^-1 Sigma(o, m_a) (forward substitution), which gives
  // the conditional covariance as Sigma_mm - W^T W; then, solved backward with L^T, it becomes
  // Sigma_oo^-1 Sigma(o, m_a), i.e. row a of Sigma_mo Sigma_oo^-1.
  std::vector<double> &R = out->regression;
  R.resize(static_cast<std::size_t>(q) * n);
  for (int a = 0; a < q; a++) {
    double *w = R.data() + static_cast<std::size_t>(a) * n;
    for (int t = 0; t < n; t++) {
      double s = sigma(o[t], m[a]);
      for (int v = 0; v < t; v++) s -= L[v * n + t] * w[v];
      w[t] = s / L[t * n + t];
    }
  }
  std::vector<double> &C = out->conditional;
  C.resize(static_cast<std::size_t>(q) * q);
  for (int a = 0; a < q; a++)
    for (int b = a; b < q; b++) {
      const double *wa = R.data() + static_cast<std::size_t>(a) * n, *wb = R.data() + static_cast<std::size_t>(b) * n;
      double s = sigma(m[a], m[b]);
      for (int t = 0; t < n; t++) s -= wa[t] * wb[t];
      C[a * q + b] = C[b * q + a] = s;
    }
  for (int a = 0; a < q; a++) {
    double *r = R.data() + static_cast<std::size_t>(a) * n;
    for (int t = n - 1; t >= 0; t--) {
      double s = r[t];
      for (int v = t + 1; v < n; v++) s -= L[t * n + v] * r[v];
      r[t] = s / L[t * n + t];
    }
  }
  return true;
}

namespace {

// out = X^T X (n x n, row-major, symmetric) for the lower-triangular inverse X of a Cholesky
// factor (row-major): out(r, s) = sum over t >= max(r, s) of X(t, r) X(t, s), t ascending.
void gram_of_inverse(const std::vector<double> &inverse, int n, std::vector<double> *out) {
  std::vector<double> &G = *out;
  G.resize(static_cast<std::size_t>(n) * n);
  for (int r = 0; r < n; r++)
    for (int s = r; s < n; s++) {
      double sum = 0.0;
      for (int t = s; t < n; t++) sum += inverse[t * n + r] * inverse[t * n + s];
      G[r * n + s] = G[s * n + r] = sum;
    }
}

}  // namespace

bool factor_precision(const double *covariance, int F, precision_factor *out) {
  // Cholesky Sigma = L L^T (L row-major here), then L^-1 by forward substitution, then
  // P = L^-T L^-1: P(r, s) = sum over t >= max(r, s) of L^-1(t, r) L^-1(t, s), t ascending.
  std::vector<double> L(static_cast<std::size_t>(F) * F, 0.0), inv(L.size(), 0.0);
  out->log_det = 0.0;
  for (int u = 0; u < F; u++)
    for (int t = u; t < F; t++) {
      double s = covariance[static_cast<std::size_t>(t) * F + u];
      for (int v = 0; v < u; v++) s -= L[t * F + v] * L[u * F + v];
      if (t == u) {
        if (!(s > 0.0)) return false;  // also NaN
        out->log_det += std::log(s);
        L[u * F + u] = std::sqrt(s);
      } else {
        L[t * F + u] = s / L[u * F + u];
      }
    }
  for (int c = 0; c < F; c++)
    for (int t = c; t < F; t++) {
      double s = t == c ? 1.0 : 0.0;
      for (int v = c; v < t; v++) s -= L[t * F + v] * inv[v * F + c];
      inv[t * F + c] = s / L[t * F + t];
    }
  gram_of_inverse(inv, F, &out->precision);
  return true;
}

bool factor_missing_block(const precision_factor &precision, int F, const hole_pattern &pattern, missing_factor *out) {
  const std::vector<int> &m = pattern.missing;
  const int q = static_cast<int>(m.size());
  auto p = [&](int a, int c) { return precision.precision[static_cast<std::size_t>(m[a] - 1) * F + (m[c] - 1)]; };
  std::vector<double> &M = out->lower;
  M.assign(static_cast<std::size_t>(q) * q, 0.0);
  out->inverse_diagonal.resize(q);
  double log_det = 0.0;
  for (int c = 0; c < q; c++)
    for (int a = c; a < q; a++) {
      double s = p(a, c);
      for (int v = 0; v < c; v++) s -= M[a * q + v] * M[c * q + v];
      if (a == c) {
        if (!(s > 0.0)) return false;
        log_det += std::log(s);
        M[c * q + c] = std::sqrt(s);
        out->inverse_diagonal[c] = 1.0 / M[c * q + c];
      } else {
        M[a * q + c] = s / M[c * q + c];
      }
    }
  out->log_det = precision.log_det + log_det;
  // P_mm^-1 = M^-T M^-1, as factor_precision forms P.
  std::vector<double> inv(static_cast<std::size_t>(q) * q, 0.0);
  for (int c = 0; c < q; c++)
    for (int t = c; t < q; t++) {
      double s = t == c ? 1.0 : 0.0;
      for (int v = c; v < t; v++) s -= M[t * q + v] * inv[v * q + c];
      inv[t * q + c] = s * out->inverse_diagonal[t];
    }
  gram_of_inverse(inv, q, &out->conditional);
  return true;
}

double observed_distance(const pattern_factor &factor, const double *row, const double *mean,
                         const hole_pattern &pattern, double *scratch) {
  const int *o = pattern.observed.data();
  const int n = static_cast<int>(pattern.observed.size());
  const double *U = factor.unit_lower.data(), *inverse = factor.inverse_diagonal.data();
  double *d = scratch;
  for (int t = 0; t < n; t++) d[t] = row[o[t]] - mean[o[t]];
  // Forward substitution with the unit factor, by columns: once y_u is final it leaves every
  // later entry, so each d[t] still loses U(t, 0) y_0, U(t, 1) y_1, ... in ascending order, and
  // the updates of one column are independent of one another. The scaling to z_u = y_u / L(u, u)
  // stays off that chain.
  double distance = 0.0;
  for (int u = 0; u < n; u++) {
    const double y = d[u], z = y * inverse[u];
    distance += z * z;
    const double *column = U + static_cast<std::size_t>(u) * n;
    for (int t = u + 1; t < n; t++) d[t] -= column[t] * y;
  }
  return distance;
}

void observed_distances(const pattern_factor &factor, const double *const *rows, const int *row_numbers, int count,
                        const double *mean, const hole_pattern &pattern, double *out, double *scratch) {
  // HOLE_BLOCK doubles handled as one, element by element (the compiler splits it into the
  // target's vectors), so every lane rounds exactly as observed_distance's scalar operation.
  typedef double lanes __attribute__((vector_size(8 * HOLE_BLOCK)));
  constexpr int B = HOLE_BLOCK;
  // (Through a reference: a vector this wide returned by value would cross the vector ABI
  // that -Wpsabi warns about.)
  auto load = [](lanes &v, const double *p) { std::memcpy(&v, p, sizeof v); };
  const int *o = pattern.observed.data();
  const int n = static_cast<int>(pattern.observed.size());
  const double *U = factor.unit_lower.data(), *inverse = factor.inverse_diagonal.data();
  double *d = scratch;  // entry t of lane r at d[t * B + r]
  for (int first = 0; first < count; first += B) {
    const int width = std::min(B, count - first);
    // A short last block repeats its last row in the spare lanes, so every loop runs B wide.
    for (int r = 0; r < B; r++) {
      const double *row = rows[row_numbers[first + std::min(r, width - 1)]];
      for (int t = 0; t < n; t++) d[t * B + r] = row[o[t]] - mean[o[t]];
    }
    // Two columns at a time: entry t loses column u's term, then column u + 1's, in that order,
    // with one load and one store of it for both.
    lanes distance = {};
    int u = 0;
    for (; u + 1 < n; u += 2) {
      const double *c0 = U + static_cast<std::size_t>(u) * n, *c1 = c0 + n;
      lanes y0, y1, entry;
      load(y0, d + u * B);
      const lanes z0 = y0 * inverse[u];
      distance += z0 * z0;
      load(y1, d + (u + 1) * B);
      y1 = y1 - c0[u + 1] * y0;
      const lanes z1 = y1 * inverse[u + 1];
      distance += z1 * z1;
      for (int t = u + 2; t < n; t++) {
        load(entry, d + t * B);
        entry = (entry - c0[t] * y0) - c1[t] * y1;
        std::memcpy(d + t * B, &entry, sizeof entry);
      }
    }
    if (u < n) {
      lanes y;
      load(y, d + u * B);
      const lanes z = y * inverse[u];
      distance += z * z;
    }
    for (int r = 0; r < width; r++) out[first + r] = distance[r];
  }
}

void conditional_mean(const pattern_factor &factor, const double *row, const double *mean,
                      const hole_pattern &pattern, double *missing_out, double *scratch) {
  const int *o = pattern.observed.data(), *m = pattern.missing.data();
  const int n = static_cast<int>(pattern.observed.size()), q = static_cast<int>(pattern.missing.size());
  const double *R = factor.regression.data();
  double *d = scratch;
  for (int t = 0; t < n; t++) d[t] = row[o[t]] - mean[o[t]];
  for (int a = 0; a < q; a++) missing_out[a] = 0.0;
  // Every missing_out[a] takes its terms t = 0, 1, ... in order; the a's are independent.
  for (int t = 0; t < n; t++)
    for (int a = 0; a < q; a++) missing_out[a] += R[static_cast<std::size_t>(a) * n + t] * d[t];
  for (int a = 0; a < q; a++) missing_out[a] = mean[m[a]] + missing_out[a];
}

}  // namespace mogem::detail
