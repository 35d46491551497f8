// The result files of the mogem program (mogem/mogem.h): labels, the model files, the data as
// the fit saw them, and the numbered snapshots.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "mogem/mogem.h"

namespace mogem {

namespace {

[[noreturn]] void write_failed(const std::string &path, int error_number) {
  throw error(error::kind::write_failure,
              "Error: could not write the file " + path + ": " + std::strerror(error_number));
}

// An output file, replaced when opened; finish() reports a write error or a failing close.
// A file that cannot be opened is reported with open_failure when one is given.
class output_file {
 public:
  explicit output_file(const std::string &path, const std::string &open_failure = "")
      : path_(path), fp_(std::fopen(path.c_str(), "w")) {
    if (fp_) return;
    if (!open_failure.empty()) throw error(error::kind::write_failure, open_failure);
    write_failed(path, errno);
  }
  ~output_file() {
    if (fp_) std::fclose(fp_);
  }
  output_file(const output_file &) = delete;
  output_file &operator=(const output_file &) = delete;
  FILE *get() const { return fp_; }

  void finish() {
    const bool failed = std::ferror(fp_) != 0;
    const int error_number = failed ? (errno ? errno : EIO) : 0;
    const int closed = std::fclose(fp_);
    const int close_error = errno;
    fp_ = nullptr;
    if (failed) write_failed(path_, error_number);
    if (closed != 0) write_failed(path_, close_error);
  }

 private:
  std::string path_;
  FILE *fp_;
};

// A model value: rounded to single precision first, then fixed notation with `format`.
void write_value(FILE *fp, const char *format, double value) {
  std::fprintf(fp, format, static_cast<double>(static_cast<float>(value)));
}

// rows x cols values, row-major, tab-separated, a line break after every row.
void write_table(const std::string &path, const double *values, std::size_t rows, std::size_t cols,
                 const char *format) {
  output_file out(path);
  for (std::size_t r = 0; r < rows; r++) {
    for (std::size_t c = 0; c < cols; c++) {
      if (c > 0) std::fputc('\t', out.get());
      write_value(out.get(), format, values[r * cols + c]);
    }
    std::fputc('\n', out.get());
  }
  out.finish();
}

void write_class_numbers(const std::string &path, const int *labels, std::size_t rows,
                         const std::string &open_failure = "") {
  output_file out(path, open_failure);
  for (std::size_t i = 0; i < rows; i++) std::fprintf(out.get(), "%d\n", labels[i] + 1);
  out.finish();
}

}  // namespace

std::string result_file_name(const std::string &output, const std::string &extension) {
  // Only a dot in the last path component starts an extension: "run.1/labels" keeps its
  // directory and gets "run.1/labels.means".
  const std::size_t slash = output.rfind('/');
  const std::size_t component = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = output.rfind('.');
  const std::size_t keep = dot != std::string::npos && dot >= component ? dot : output.size();
  return output.substr(0, keep) + extension;
}

void write_labels(const std::string &path, const model &fitted) {
  write_class_numbers(path, fitted.labels.data(), fitted.labels.size(),
                      "Error: Could not open results filename [" + path + "] for writing.\nAborting...");
}

void write_means(const std::string &path, const model &fitted) {
  write_table(path, fitted.means.data(), static_cast<std::size_t>(fitted.classes), static_cast<std::size_t>(fitted.features),
              "%f");
}

void write_variances(const std::string &path, const model &fitted) {
  std::vector<double> variances(static_cast<std::size_t>(fitted.classes) * fitted.features);
  for (int k = 0; k < fitted.classes; k++)
    for (int j = 0; j < fitted.features; j++)
      variances[static_cast<std::size_t>(k) * fitted.features + j] = fitted.feature_variance(k, j);
  write_table(path, variances.data(), static_cast<std::size_t>(fitted.classes), static_cast<std::size_t>(fitted.features),
              "%f");
}

void write_weights(const std::string &path, const model &fitted) {
  write_table(path, fitted.weights.data(), static_cast<std::size_t>(fitted.classes), 1, "%f");
}

void write_posteriors(const std::string &path, const model &fitted) {
  // Posteriors are held class first; the file is one line per data point.
  const std::size_t K = static_cast<std::size_t>(fitted.classes);
  const std::size_t N = K ? fitted.posteriors.size() / K : 0;
  output_file out(path);
  for (std::size_t i = 0; i < N; i++) {
    for (std::size_t k = 0; k < K; k++) {
      if (k > 0) std::fputc('\t', out.get());
      write_value(out.get(), "%f", fitted.posteriors[k * N + i]);
    }
    std::fputc('\n', out.get());
  }
  out.finish();
}

void write_transformed_data(const std::string &path, const double *values, std::size_t rows, std::size_t cols) {
  output_file out(path);
  for (std::size_t i = 0; i < rows; i++) {
    if (i > 0) std::fputc('\n', out.get());
    for (std::size_t j = 0; j < cols; j++) {
      if (j > 0) std::fputc('\t', out.get());
      std::fprintf(out.get(), "%f", values[i * cols + j]);
    }
  }
  out.finish();
}

void write_snapshot_means(const std::string &path, const snapshot &at) {
  write_table(path, at.means, static_cast<std::size_t>(at.classes), static_cast<std::size_t>(at.features), "%4.4f");
}

void write_snapshot_variances(const std::string &path, const snapshot &at) {
  write_table(path, at.feature_variances, static_cast<std::size_t>(at.classes), static_cast<std::size_t>(at.features),
              "%4.4f");
}

void write_snapshot_labels(const std::string &path, const snapshot &at) { write_class_numbers(path, at.labels, at.rows); }

}  // namespace mogem
