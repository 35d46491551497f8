// Reading speed of a CSV file against the parameter file holding the same numbers: writes the
// benchmarks' mixture (bench/mixture.h, "%.6f") as both into DIR, then reads each once per
// thread count and prints seconds and MB/s of text. Both readings must give the same doubles
// (it fails otherwise). Reads once, not in a loop: the page cache is warm after the writing.
// Processor seconds (all threads together) give the speed per core on a machine others share.
//
//   build/mogem_read_tables N F DIR [THREADS...]     e.g. 1000000 16 /tmp 1 2
#include <time.h>

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

// Wall-clock and processor seconds (all threads) of one call.
struct timing {
  double wall, cpu;
};

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

template <typename F>
timing timed(F call) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = cpu_seconds();
  call();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), cpu_seconds() - cpu};
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
    mogem::parameter_file file;
    const timing param = timed([&] { file = mogem::read_parameter_file(params, hooks); });
    mogem::detail::table_request request;
    request.path = csv;
    request.threads = threads;
    mogem::detail::table table;
    const timing text = timed([&] { table = mogem::detail::read_table(request); });
    const bool same = table.values.size() == file.data.size() &&
                      std::memcmp(table.values.data(), file.data.data(), file.data.size() * sizeof(double)) == 0;
    const double param_mb = file_bytes(params) / 1e6, csv_mb = file_bytes(csv) / 1e6;
    std::printf("%ld x %d, %d thread%s: parameter file %.0f MB in %.3f s (%.0f MB/s; %.0f MB per processor second), "
                "CSV %.0f MB in %.3f s (%.0f MB/s; %.0f MB per processor second)%s\n",
                n, f, threads, threads == 1 ? "" : "s", param_mb, param.wall, param_mb / param.wall, param_mb / param.cpu,
                csv_mb, text.wall, csv_mb / text.wall, csv_mb / text.cpu, same ? "" : "; THE VALUES DIFFER");
    if (!same) status = 1;
  }
  std::remove(csv.c_str());
  std::remove(params.c_str());
  return status;
}
