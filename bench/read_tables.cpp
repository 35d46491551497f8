// Reading speed of a CSV file against the parameter file holding the same numbers: writes the
// benchmarks' mixture (bench/mixture.h, "%.6f") as both into DIR, then reads each once per
// thread count and prints seconds and MB/s of text. Both readings must give the same doubles
// (it fails otherwise). Reads once, not in a loop: the page cache is warm after the writing.
//
//   build/mogem_read_tables N F DIR [THREADS...]     e.g. 1000000 16 /tmp 1 2
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/mixture.h"
#include "io/table_file.h"
#include "mogem/files.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long file_bytes(const std::string &path) {
  FILE *fp = std::fopen(path.c_str(), "rb");
  std::fseek(fp, 0, SEEK_END);
  const long long n = std::ftell(fp);
  std::fclose(fp);
  return n;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s N F DIR [THREADS...]\n", argv[0]);
    return 2;
  }
  const long n = std::atol(argv[1]);
  const int f = std::atoi(argv[2]);
  const std::string csv = std::string(argv[3]) + "/mogem-read-tables.csv", params = std::string(argv[3]) + "/mogem-read-tables.txt";
  std::vector<int> thread_counts;
  for (int a = 4; a < argc; a++) thread_counts.push_back(std::atoi(argv[a]));
  if (thread_counts.empty()) thread_counts = {1, 2};

  FILE *c = std::fopen(csv.c_str(), "wb"), *p = std::fopen(params.c_str(), "wb");
  if (!c || !p) return 1;
  std::fprintf(p, "rows %ld\ncols %d\nnum_clusters 3\nbegin data\n", n, f);
  for (int j = 0; j < f; j++) std::fprintf(c, j ? ",x%d" : "x%d", j + 1);
  std::fputc('\n', c);
  mixture source(f, 3, 1);
  std::vector<double> row(f);
  for (long i = 0; i < n; i++) {
    source.row(i, row.data());
    for (int j = 0; j < f; j++) {
      std::fprintf(c, j ? ",%.6f" : "%.6f", row[j]);
      std::fprintf(p, j ? " %.6f" : "%.6f", row[j]);
    }
    std::fputc('\n', c);
    std::fputc('\n', p);
  }
  std::fclose(c);
  std::fclose(p);

  int status = 0;
  for (int threads : thread_counts) {
    mogem::reader_callbacks hooks;
    hooks.threads = threads;
    auto start = std::chrono::steady_clock::now();
    const mogem::parameter_file file = mogem::read_parameter_file(params, hooks);
    const double param_s = seconds_since(start);
    mogem::detail::table_request request;
    request.path = csv;
    request.threads = threads;
    start = std::chrono::steady_clock::now();
    const mogem::detail::table table = mogem::detail::read_table(request);
    const double csv_s = seconds_since(start);
    const bool same = table.values.size() == file.data.size() &&
                      std::memcmp(table.values.data(), file.data.data(), file.data.size() * sizeof(double)) == 0;
    std::printf("%ld x %d, %d thread%s: parameter file %.3f s (%.0f MB/s), CSV %.3f s (%.0f MB/s)%s\n", n, f,
                threads, threads == 1 ? "" : "s", param_s, file_bytes(params) / param_s / 1e6, csv_s,
                file_bytes(csv) / csv_s / 1e6, same ? "" : "; THE VALUES DIFFER");
    if (!same) status = 1;
  }
  std::remove(csv.c_str());
  std::remove(params.c_str());
  return status;
}
