#include "cli/staged_results.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/checks.h"
#include "cli/interrupt.h"
#include "io/result_files.h"

namespace mogem::detail {

void staged_results::snapshot(const mogem::snapshot &at) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%05d", at.step);
  const std::string step = suffix;
  if (share_.alone()) {
    write_snapshot_file(step + ".means", [&](output_file &out) { put_snapshot_means(out, at); });
    write_snapshot_file(step + ".variances", [&](output_file &out) { put_snapshot_variances(out, at); });
    write_snapshot_file(step + ".labels", [&](output_file &out) { put_snapshot_labels(out, at); });
    return;
  }
  together(share_, [&] {
    if (first_process()) write_snapshot_file(step + ".means", [&](output_file &out) { put_snapshot_means(out, at); });
  });
  together(share_, [&] {
    if (first_process())
      write_snapshot_file(step + ".variances", [&](output_file &out) { put_snapshot_variances(out, at); });
  });
  // Written in rank order into a temporary, then renamed into place at once.
  const std::string path = result_file_name(output_, step + ".labels");
  stage_in_order(path, [&](output_file &out) { put_snapshot_labels(out, at); });
  together(share_, [&] {
    if (!first_process() || staged_.empty() || staged_.back().final_name != path) return;  // in place
    const staged_file file = staged_.back();
    staged_.pop_back();
    try {
      rename_into_place(file.temporary, file.target, file.final_name);
    } catch (...) {
      ::unlink(file.temporary.c_str());
      throw;
    }
    sync_directory_of(file.target, file.final_name);
  });
}

void staged_results::transformed_data(const double *values, std::size_t rows, std::size_t cols) {
  stage_in_order(result_file_name(output_, ".internal"),
                 [&](output_file &out) { put_transformed_data(out, values, rows, cols, share_.first > 0); });
}

void staged_results::model_files(const fit_result &fitted) {
  const model &m = fitted.model;
  stage_first(result_file_name(output_, ".means"), [&](output_file &out) { put_means(out, m); });
  stage_first(result_file_name(output_, ".variances"), [&](output_file &out) { put_variances(out, m); });
  stage_first(result_file_name(output_, ".weights"), [&](output_file &out) { put_weights(out, m); });
  stage_in_order(result_file_name(output_, ".probs"), [&](output_file &out) { put_posteriors(out, fitted); });
}

void staged_results::labels(const fit_result &fitted) {
  stage_in_order(output_, [&](output_file &out) { put_labels(out, fitted); }, labels_open_failure(output_));
}

void staged_results::file(const std::string &path, const std::function<void(output_file &)> &put) {
  stage_first(path, put);
}

void staged_results::stage_first(const std::string &path, const std::function<void(output_file &)> &put) {
  together(share_, [&] {
    if (first_process()) stage(path, put);
  });
}

void staged_results::stage_in_order(const std::string &path, const std::function<void(output_file &)> &put,
                                    const std::string &open_failure) {
  if (share_.alone()) {
    stage(path, put, open_failure);
    return;
  }
  std::string written;  // the file the processes write into
  for (int r = 0; r < share_.size(); r++) {
    together(share_, [&] {
      if (share_.rank() != r) return;
      if (r == 0) {
        stage(path, put, open_failure);
        written = staged_.empty() || staged_.back().final_name != path ? plan_write(path).target
                                                                        : staged_.back().temporary;
        return;
      }
      output_file out(written, path, open_failure, true, true);
      put(out);
      out.finish();
    });
    if (r == 0) share_.group->broadcast_text(written, 0);
  }
}

std::string staged_results::labels_failure() const { return labels_open_failure(output_); }

output_file &staged_results::stream(const std::string &path, const std::string &open_failure) {
  stop_if_interrupted();
  refuse_input_file(path);
  const write_plan plan = plan_write(path);
  if (plan.in_place) {
    streams_.push_back(std::make_unique<output_file>(plan.target, path, open_failure, true));
  } else {
    staged_file file{temporary_name(plan.target), plan.target, path};
    streams_.push_back(std::make_unique<output_file>(file.temporary, path, open_failure));
    staged_.push_back(file);
  }
  return *streams_.back();
}

void staged_results::finish_streams() {
  for (auto &out : streams_) out->finish();
  streams_.clear();
}

void staged_results::commit() {
  together(share_, [&] {
    if (first_process()) commit_here();
  });
}

void staged_results::commit_here() {
  interrupts_held held;
  std::vector<staged_file> files = staged_;
  std::stable_partition(files.begin(), files.end(), [&](const staged_file &f) { return f.final_name != output_; });
  for (const staged_file &file : files) {
    rename_into_place(file.temporary, file.target, file.final_name);
    staged_.erase(std::find_if(staged_.begin(), staged_.end(),
                               [&](const staged_file &f) { return f.temporary == file.temporary; }));
  }
  std::vector<std::string> synced;  // each directory once
  for (const staged_file &file : files) {
    const std::string directory = file.target.substr(0, file.target.rfind('/') + 1);
    if (std::find(synced.begin(), synced.end(), directory) != synced.end()) continue;
    synced.push_back(directory);
    sync_directory_of(file.target, file.final_name);
  }
}

void staged_results::discard() {
  streams_.clear();  // closes what is open; the temporaries go below
  for (const staged_file &file : staged_) ::unlink(file.temporary.c_str());
  staged_.clear();
}

void staged_results::write_snapshot_file(const std::string &extension,
                                         const std::function<void(output_file &)> &put) {
  stop_if_interrupted();
  const std::string path = result_file_name(output_, extension);
  refuse_input_file(path);
  write_whole(path, put);
}

void staged_results::stage(const std::string &path, const std::function<void(output_file &)> &put,
                           const std::string &open_failure) {
  stop_if_interrupted();
  refuse_input_file(path);
  const write_plan plan = plan_write(path);
  if (plan.in_place) {  // a device or a pipe: nothing to rename, nothing to keep
    output_file out(plan.target, path, open_failure, true);
    put(out);
    out.finish();
    return;
  }
  staged_file file{temporary_name(plan.target), plan.target, path};
  output_file out(file.temporary, path, open_failure);
  staged_.push_back(file);
  put(out);
  out.finish();
}

void staged_results::refuse_input_file(const std::string &path) const {
  if (same_file(path, input_))
    throw error(error::kind::write_failure, "the file " + path + " is the input file; it is not overwritten");
}

}  // namespace mogem::detail
