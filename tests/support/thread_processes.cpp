#include "support/thread_processes.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// FIFO mailboxes between every pair of processes: every process runs the same sequence of
// operations, so each message is taken by the call it was meant for.
class mailboxes {
 public:
  void post(int from, int to, std::string bytes) {
    std::lock_guard<std::mutex> held(lock_);
    boxes_[{from, to}].push_back(std::move(bytes));
    arrived_.notify_all();
  }
  std::string take(int from, int to) {
    std::unique_lock<std::mutex> held(lock_);
    std::deque<std::string> &box = boxes_[{from, to}];
    arrived_.wait(held, [&] { return !box.empty(); });
    std::string bytes = std::move(box.front());
    box.pop_front();
    return bytes;
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::map<std::pair<int, int>, std::deque<std::string>> boxes_;
};

std::string bytes_of(const double *values, std::size_t n) {
  return std::string(reinterpret_cast<const char *>(values), n * sizeof(double));
}

void values_of(const std::string &bytes, double *values, std::size_t n) {
  ASSERT_EQ(bytes.size(), n * sizeof(double));
  if (n > 0) std::memcpy(values, bytes.data(), bytes.size());
}

// The root's text to every other process; the others' copy of it.
std::string broadcast(mailboxes &boxes, int rank, int size, const std::string &text, int root) {
  if (rank != root) return boxes.take(root, rank);
  for (int r = 0; r < size; r++)
    if (r != root) boxes.post(root, r, text);
  return text;
}

mogem::process_group group_of(mailboxes &boxes, int rank, int size) {
  mogem::process_group g;
  g.rank = rank;
  g.size = size;
  g.send = [&boxes, rank](const double *v, std::size_t n, int to) { boxes.post(rank, to, bytes_of(v, n)); };
  g.receive = [&boxes, rank](double *v, std::size_t n, int from) { values_of(boxes.take(from, rank), v, n); };
  g.broadcast = [&boxes, rank, size](double *v, std::size_t n, int root) {
    values_of(broadcast(boxes, rank, size, bytes_of(v, n), root), v, n);
  };
  g.gather = [&boxes, rank, size](const double *mine, std::size_t n, double *all) {
    for (int r = 0; r < size; r++) values_of(broadcast(boxes, rank, size, bytes_of(mine, n), r), all + r * n, n);
  };
  g.broadcast_text = [&boxes, rank, size](std::string &text, int root) {
    text = broadcast(boxes, rank, size, text, root);
  };
  return g;
}

}  // namespace

void run_as_processes(int size, const std::function<void(const mogem::process_group &group)> &body) {
  mailboxes boxes;
  std::vector<std::thread> processes;
  for (int r = 0; r < size; r++)
    processes.emplace_back([&, r] {
      const mogem::process_group group = group_of(boxes, r, size);
      body(group);
    });
  for (std::thread &t : processes) t.join();
}
