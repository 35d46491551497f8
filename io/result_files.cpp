// The result files of the mogem program (mogem/mogem.h): labels, the model files, the data as
// the fit saw them, and the numbered snapshots.
#include "io/result_files.h"

#include <unistd.h>

#include <charconv>
#include <vector>

namespace mogem::detail {

namespace {

// A model value: rounded to single precision first, then fixed notation with `format`.
void put_value(output_file &out, const char *format, double value) {
  out.put_format(format, static_cast<double>(static_cast<float>(value)));
}

// rows x cols values, row-major, tab-separated, a line break after every row.
void put_table(output_file &out, const double *values, std::size_t rows, std::size_t cols, const char *format) {
  for (std::size_t r = 0; r < rows; r++) {
    for (std::size_t c = 0; c < cols; c++) {
      if (c > 0) out.put('\t');
      put_value(out, format, values[r * cols + c]);
    }
    out.put('\n');
  }
}


std::size_t classes_of(const model &m) { return static_cast<std::size_t>(m.classes); }
std::size_t features_of(const model &m) { return static_cast<std::size_t>(m.features); }

}  // namespace

void put_labels(output_file &out, const fit_result &fitted) {
  put_class_numbers(out, fitted.labels.data(), fitted.labels.size());
}

void put_means(output_file &out, const model &fitted) {
  put_table(out, fitted.means.data(), classes_of(fitted), features_of(fitted), "%f");
}

void put_variances(output_file &out, const model &fitted) {
  std::vector<double> variances(classes_of(fitted) * features_of(fitted));
  for (int k = 0; k < fitted.classes; k++)
    for (int j = 0; j < fitted.features; j++)
      variances[static_cast<std::size_t>(k) * fitted.features + j] = fitted.feature_variance(k, j);
  put_table(out, variances.data(), classes_of(fitted), features_of(fitted), "%f");
}

void put_weights(output_file &out, const model &fitted) {
  put_table(out, fitted.weights.data(), classes_of(fitted), 1, "%f");
}

void put_posteriors(output_file &out, const fit_result &fitted) {
  const std::size_t K = classes_of(fitted.model);
  put_posterior_lines(out, fitted.posteriors.data(), K ? fitted.posteriors.size() / K : 0, K);
}

void put_class_numbers(output_file &out, const int *labels, std::size_t rows) {
  for (std::size_t i = 0; i < rows; i++) out.put_format("%d\n", labels[i] + 1);
}

void put_posterior_lines(output_file &out, const double *posteriors, std::size_t rows, std::size_t classes) {
  // Posteriors are held class first; the file is one line per data point.
  for (std::size_t i = 0; i < rows; i++) {
    for (std::size_t k = 0; k < classes; k++) {
      if (k > 0) out.put('\t');
      put_value(out, "%f", posteriors[k * rows + i]);
    }
    out.put('\n');
  }
}

void put_transformed_data(output_file &out, const double *values, std::size_t rows, std::size_t cols,
                          bool after_rows) {
  for (std::size_t i = 0; i < rows; i++) {
    if (i > 0 || after_rows) out.put('\n');
    for (std::size_t j = 0; j < cols; j++) {
      if (j > 0) out.put('\t');
      out.put_format("%f", values[i * cols + j]);
    }
  }
}

void put_data_rows(output_file &out, const double *values, std::size_t rows, std::size_t cols, char separator,
                   const std::vector<std::string> &names) {
  for (std::size_t c = 0; c < names.size(); c++) {
    if (c > 0) out.put(separator);
    const std::string &name = names[c];
    if (name.find_first_of(std::string(1, separator) + "\"\r\n") == std::string::npos) {
      out.put(name.data(), name.size());
      continue;
    }
    out.put('"');
    for (char ch : name) {
      if (ch == '"') out.put('"');
      out.put(ch);
    }
    out.put('"');
  }
  if (!names.empty()) out.put('\n');
  char text[64];
  for (std::size_t r = 0; r < rows; r++) {
    for (std::size_t c = 0; c < cols; c++) {
      if (c > 0) out.put(separator);
      const std::to_chars_result written = std::to_chars(text, text + sizeof text, values[r * cols + c]);
      out.put(text, static_cast<std::size_t>(written.ptr - text));
    }
    out.put('\n');
  }
}

void put_snapshot_means(output_file &out, const snapshot &at) {
  put_table(out, at.means, static_cast<std::size_t>(at.classes), static_cast<std::size_t>(at.features), "%4.4f");
}

void put_snapshot_variances(output_file &out, const snapshot &at) {
  put_table(out, at.feature_variances, static_cast<std::size_t>(at.classes), static_cast<std::size_t>(at.features),
            "%4.4f");
}

void put_snapshot_labels(output_file &out, const snapshot &at) { put_class_numbers(out, at.labels, at.rows); }

std::string labels_open_failure(const std::string &path) {
  return "Could not open results filename [" + path + "] for writing.\nAborting...";
}

void write_whole(const std::string &path, const std::function<void(output_file &)> &put,
                 const std::string &open_failure) {
  pending_result result = open_result(path, open_failure);
  try {
    put(*result.out);
    result.out->finish();
    place_result(result);
  } catch (...) {
    result.out.reset();
    remove_temporary(result);
    throw;
  }
  if (!result.temporary.empty()) sync_directory_of(result.target, path);
}

}  // namespace mogem::detail

namespace mogem {

using detail::output_file;
using detail::write_whole;

std::string result_file_name(const std::string &output, const std::string &extension) {
  // Only a dot in the last path component starts an extension: "run.1/labels" keeps its
  // directory and gets "run.1/labels.means".
  const std::size_t slash = output.rfind('/');
  const std::size_t component = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = output.rfind('.');
  const std::size_t keep = dot != std::string::npos && dot >= component ? dot : output.size();
  return output.substr(0, keep) + extension;
}

void write_labels(const std::string &path, const fit_result &fitted) {
  write_whole(path, [&](output_file &out) { detail::put_labels(out, fitted); }, detail::labels_open_failure(path));
}

void write_means(const std::string &path, const model &fitted) {
  write_whole(path, [&](output_file &out) { detail::put_means(out, fitted); });
}

void write_variances(const std::string &path, const model &fitted) {
  write_whole(path, [&](output_file &out) { detail::put_variances(out, fitted); });
}

void write_weights(const std::string &path, const model &fitted) {
  write_whole(path, [&](output_file &out) { detail::put_weights(out, fitted); });
}

void write_posteriors(const std::string &path, const fit_result &fitted) {
  write_whole(path, [&](output_file &out) { detail::put_posteriors(out, fitted); });
}

void write_transformed_data(const std::string &path, const double *values, std::size_t rows, std::size_t cols) {
  write_whole(path, [&](output_file &out) { detail::put_transformed_data(out, values, rows, cols); });
}

void write_snapshot_means(const std::string &path, const snapshot &at) {
  write_whole(path, [&](output_file &out) { detail::put_snapshot_means(out, at); });
}

void write_snapshot_variances(const std::string &path, const snapshot &at) {
  write_whole(path, [&](output_file &out) { detail::put_snapshot_variances(out, at); });
}

void write_snapshot_labels(const std::string &path, const snapshot &at) {
  write_whole(path, [&](output_file &out) { detail::put_snapshot_labels(out, at); });
}

}  // namespace mogem
