#include "io/data_pieces.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "engine/kernels/parallel.h"
#include "engine/run.h"

namespace mogem::detail {

namespace {

// White space as the number reader skips it.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The reading of the pieces, shared by the threads: pieces are taken in turn and handed on in
// order, each as soon as every piece before it has been.
struct piece_queue {
  std::mutex lock;
  std::condition_variable turn;
  long long next = 0;    // the next piece to read
  long long handed = 0;  // pieces handed on so far
  span_reading result{0, NUMBER_MISSING};
  bool done = false;     // the reading has ended (or a thread failed): nothing more to take
};

// Closes a stream at the end of a scope.
struct closing {
  FILE *fp;
  ~closing() { std::fclose(fp); }
};

}  // namespace

long long cut_after_white_space(int fd, long long begin, long long end, long long at) {
  if (at <= begin) return begin;
  if (at >= end) return end;
  char bytes[4096];
  for (long long from = at - 1; from < end;) {
    const ssize_t got = ::pread(fd, bytes, sizeof bytes, from);
    if (got <= 0) return end;
    for (ssize_t b = 0; b < got; b++)
      if (is_space(bytes[b]) || from + b + 1 >= end) return from + b + 1;
    from += got;
  }
  return end;
}

std::vector<long long> cut_into_parts(int fd, long long begin, long long end, int parts) {
  std::vector<long long> cuts(static_cast<std::size_t>(parts) + 1);
  const long long length = end - begin;
  for (int part = 0; part <= parts; part++) {
    // length x part can pass 64 bits only for files beyond an exabyte.
    const long long at = begin + static_cast<long long>(static_cast<__int128>(length) * part / parts);
    cuts[part] = cut_after_white_space(fd, begin, end, at);
    if (part > 0 && cuts[part] < cuts[part - 1]) cuts[part] = cuts[part - 1];
  }
  return cuts;
}

span_reading read_span(const char *path, long long begin, long long end, std::size_t max_values, int threads,
                       const std::function<void(const double *values, std::size_t n)> &take,
                       const std::function<void()> &checkpoint, long long piece_bytes) {
  if (max_values == 0) return {0, NUMBER_READ};
  if (piece_bytes < 1) piece_bytes = 1;
  const long long pieces = end > begin ? (end - begin + piece_bytes - 1) / piece_bytes : 1;
  if (threads < 1) threads = 1;
  if (threads > pieces) threads = static_cast<int>(pieces);
  FILE *probe = open_file(path, "r", path);
  closing probe_closing{probe};
  const int fd = fileno(probe);

  piece_queue queue;
  em_run_parts(threads, [&](int part) {
    FILE *fp = open_file(path, "r", path);
    closing fp_closing{fp};
    std::setvbuf(fp, nullptr, _IONBF, 0);  // the reader has a buffer of its own
    std::vector<double> values;
    try {
      for (;;) {
        long long piece;
        {
          std::lock_guard<std::mutex> held(queue.lock);
          if (queue.done || queue.next >= pieces) return;
          piece = queue.next++;
        }
        if (part == 0 && checkpoint) checkpoint();
        const long long from = cut_after_white_space(fd, begin, end, begin + piece * piece_bytes);
        const long long to = cut_after_white_space(fd, begin, end, begin + (piece + 1) * piece_bytes);
        values.clear();
        number_status status = NUMBER_MISSING;
        if (from < to) {
          if (fseeko(fp, from, SEEK_SET) != 0) {
            status = NUMBER_NOT_A_NUMBER;
          } else {
            const long long bytes = to - from;
            number_stream numbers(fp, bytes < (1 << 20) ? static_cast<std::size_t>(bytes) : 1 << 20,
                                  static_cast<unsigned long long>(bytes));
            double value;
            while (values.size() < max_values && (status = numbers.read(&value)) == NUMBER_READ)
              values.push_back(value);
          }
        }
        std::unique_lock<std::mutex> held(queue.lock);
        queue.turn.wait(held, [&] { return queue.done || queue.handed == piece; });
        if (queue.done) return;
        span_reading &r = queue.result;
        const std::size_t wanted = max_values - r.count;
        const std::size_t n = values.size() < wanted ? values.size() : wanted;
        take(values.data(), n);
        r.count += n;
        if (r.count == max_values) {
          r.stop = NUMBER_READ;
          queue.done = true;
        } else if (status == NUMBER_NOT_A_NUMBER || piece == pieces - 1) {
          r.stop = status == NUMBER_NOT_A_NUMBER ? NUMBER_NOT_A_NUMBER : NUMBER_MISSING;
          queue.done = true;
        }
        queue.handed++;
        queue.turn.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> held(queue.lock);
      queue.done = true;
      queue.turn.notify_all();
      throw;
    }
  });
  return queue.result;
}

}  // namespace mogem::detail
