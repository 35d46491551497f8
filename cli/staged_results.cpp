#include "cli/staged_results.h"

#include <algorithm>
#include <cstdio>

#include "cli/interrupt.h"
#include "io/result_files.h"

namespace mogem::detail {

void staged_results::snapshot(const mogem::snapshot &at) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%05d", at.step);
  const std::string step = suffix;
  const auto write = [&](const char *extension, const std::function<void(output_file &)> &put) {
    stop_if_interrupted();
    write_whole(result_file_name(plan_.output, step + extension), put);
  };
  if (share_.alone()) {
    write(".means", [&](output_file &out) { put_snapshot_means(out, at); });
    write(".variances", [&](output_file &out) { put_snapshot_variances(out, at); });
    write(".labels", [&](output_file &out) { put_snapshot_labels(out, at); });
    return;
  }
  together(share_, [&] {
    if (first_process()) write(".means", [&](output_file &out) { put_snapshot_means(out, at); });
  });
  together(share_, [&] {
    if (first_process()) write(".variances", [&](output_file &out) { put_snapshot_variances(out, at); });
  });
  // Written in rank order into a temporary (staged as labels for the moment), then renamed
  // into place at once.
  const std::string path = result_file_name(plan_.output, step + ".labels");
  stage_in_order(result::labels, path, [&](output_file &out) { put_snapshot_labels(out, at); });
  together(share_, [&] {
    if (!first_process()) return;
    const pending_result file = std::move(staged_.back().file);
    staged_.pop_back();
    try {
      place_result(file);
    } catch (...) {
      remove_temporary(file);
      throw;
    }
    if (!file.temporary.empty()) sync_directory_of(file.target, file.final_name);
  });
}

void staged_results::transformed_data(const double *values, std::size_t rows, std::size_t cols) {
  stage_in_order(result::internal, plan_.path(result::internal),
                 [&](output_file &out) { put_transformed_data(out, values, rows, cols, share_.first > 0); });
}

void staged_results::model_files(const fit_result &fitted) {
  const model &m = fitted.model;
  stage_first(result::means, [&](output_file &out) { put_means(out, m); });
  stage_first(result::variances, [&](output_file &out) { put_variances(out, m); });
  stage_first(result::weights, [&](output_file &out) { put_weights(out, m); });
  stage_in_order(result::posteriors, plan_.path(result::posteriors),
                 [&](output_file &out) { put_posteriors(out, fitted); });
}

void staged_results::labels(const fit_result &fitted) {
  stage_in_order(result::labels, plan_.output, [&](output_file &out) { put_labels(out, fitted); });
}

void staged_results::file(result what, const std::function<void(output_file &)> &put) { stage_first(what, put); }

void staged_results::rows_file(result what, const std::function<void(output_file &)> &put) {
  stage_in_order(what, plan_.path(what), put);
}

void staged_results::stage_first(result what, const std::function<void(output_file &)> &put) {
  together(share_, [&] {
    if (first_process()) stage(what, plan_.path(what), put);
  });
}

void staged_results::stage_in_order(result what, const std::string &path,
                                    const std::function<void(output_file &)> &put) {
  if (share_.alone()) {
    stage(what, path, put);
    return;
  }
  std::string temporary;  // the file the processes write into; "": written in place
  for (int r = 0; r < share_.size(); r++) {
    together(share_, [&] {
      if (share_.rank() != r) return;
      if (r == 0) {
        stage(what, path, put);
        temporary = staged_.back().file.temporary;
        return;
      }
      const std::string failure = what == result::labels ? labels_open_failure(path) : "";
      pending_result part;  // appended to: process 0 keeps the temporary, or it is written in place
      if (temporary.empty())
        part = open_result(path, failure, 0, true);
      else
        part.out = std::make_unique<output_file>(temporary, path, failure, true, true);
      put(*part.out);
      part.out->finish();
    });
    if (r == 0) share_.group->broadcast_text(temporary, 0);
  }
}

pending_result &staged_results::open(result what, const std::string &path) {
  stop_if_interrupted();
  // A second result of the run with the same target gets a temporary of its own.
  const std::string target = plan_write(path).target;
  const int copy = static_cast<int>(std::count_if(staged_.begin(), staged_.end(), [&](const staged_file &f) {
    return f.file.target == target && !f.file.temporary.empty();
  }));
  staged_.push_back({what, open_result(path, what == result::labels ? labels_open_failure(path) : "", copy)});
  return staged_.back().file;
}

void staged_results::stage(result what, const std::string &path, const std::function<void(output_file &)> &put) {
  pending_result &file = open(what, path);
  put(*file.out);
  file.out->finish();
  file.out.reset();
}

output_file &staged_results::stream(result what) { return *open(what, plan_.path(what)).out; }

void staged_results::finish_streams() {
  for (staged_file &staged : staged_)
    if (staged.file.out) {
      staged.file.out->finish();
      staged.file.out.reset();
    }
}

void staged_results::commit() {
  together(share_, [&] {
    if (first_process()) commit_here();
  });
}

void staged_results::commit_here() {
  interrupts_held held;
  std::stable_sort(staged_.begin(), staged_.end(), [&](const staged_file &a, const staged_file &b) {
    return plan_.position(a.what) < plan_.position(b.what);
  });
  std::vector<std::pair<std::string, std::string>> placed;  // target and final name of each
  while (!staged_.empty()) {  // a file leaves the list once renamed: discard removes the others
    const pending_result &file = staged_.front().file;
    place_result(file);
    if (!file.temporary.empty()) placed.emplace_back(file.target, file.final_name);
    staged_.erase(staged_.begin());
  }
  std::vector<std::string> synced;  // each directory once
  for (const auto &[target, final_name] : placed) {
    const std::string directory = target.substr(0, target.rfind('/') + 1);
    if (std::find(synced.begin(), synced.end(), directory) != synced.end()) continue;
    synced.push_back(directory);
    sync_directory_of(target, final_name);
  }
}

void staged_results::discard() {
  for (staged_file &staged : staged_) {
    staged.file.out.reset();  // closes what is open
    remove_temporary(staged.file);
  }
  staged_.clear();
}

}  // namespace mogem::detail
