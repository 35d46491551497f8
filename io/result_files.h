// The result files' contents, written into an open output file (io/output_file.h), and the
// whole-file writer the public writers of mogem/mogem.h are made of. Model values are rounded
// to single precision first; values on a line are separated by one tab.
#ifndef MOGEM_IO_RESULT_FILES_H
#define MOGEM_IO_RESULT_FILES_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "io/output_file.h"
#include "mogem/files.h"

namespace mogem::detail {

void put_labels(output_file &out, const fit_result &fitted);  // "%d\n", 1..K
void put_means(output_file &out, const model &fitted);       // K lines of F values, "%f"
void put_variances(output_file &out, const model &fitted);   // per-feature variances, "%f"
void put_weights(output_file &out, const model &fitted);     // K lines, "%f"
void put_posteriors(output_file &out, const fit_result &fitted);  // N lines of K values, "%f"
// The lines of labels (0-based classes, written 1..K) and of posteriors (class first,
// [k * rows + i]) for `rows` rows: the labels and .probs files a block of rows at a time.
void put_class_numbers(output_file &out, const int *labels, std::size_t rows);
void put_posterior_lines(output_file &out, const double *posteriors, std::size_t rows, std::size_t classes);
// after_rows: the file already holds earlier rows (another process's), so a line break goes first.
void put_transformed_data(output_file &out, const double *values, std::size_t rows, std::size_t cols,
                          bool after_rows = false);
// The data rows with their missing values filled in (impute's result): a line per row, the
// values separated by `separator` ('\t' in the program's files, ',' in a command's CSV), each in
// the shortest form that reads back as the same double, so that an observed value is given back
// as it was read. A header line of the column names first when names is not empty (CSV: a name
// holding the separator, a quote or a line break is quoted, its quotes doubled).
void put_data_rows(output_file &out, const double *values, std::size_t rows, std::size_t cols, char separator,
                   const std::vector<std::string> &names = {});
void put_snapshot_means(output_file &out, const snapshot &at);      // "%4.4f"
void put_snapshot_variances(output_file &out, const snapshot &at);  // "%4.4f"
void put_snapshot_labels(output_file &out, const snapshot &at);     // "%d\n", 1..K

// The text of the labels file's open failure: "Could not open results filename [...]".
std::string labels_open_failure(const std::string &path);

// Writes `path` whole: `put` fills its temporary, which is then put on the disk and renamed
// into place. When anything fails the temporary is removed and the error is thrown; the file
// at `path` is then as it was.
void write_whole(const std::string &path, const std::function<void(output_file &)> &put,
                 const std::string &open_failure = "");

}  // namespace mogem::detail

#endif
