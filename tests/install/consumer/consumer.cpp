// consumer <input_file> <output_file>: what a program does with the installed library alone.
// It reads the parameter file into memory, fits the matrix, writes the result files the
// program writes, checks that predict labels the training rows as predict_all does,
// labels two new rows, and shows that a bad request comes back as mogem::error.
#include <cstdio>
#include <vector>

#include <mogem/files.h>

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  try {
    const mogem::parameter_file file = mogem::read_parameter_file(argv[1]);
    const mogem::matrix_view rows{file.data.data(), file.rows, file.cols};
    const mogem::fit_result result = mogem::fit(rows, file.settings);
    const mogem::model &fitted = result.model;
    const std::string out = argv[2];
    mogem::write_means(mogem::result_file_name(out, ".means"), fitted);
    mogem::write_variances(mogem::result_file_name(out, ".variances"), fitted);
    mogem::write_weights(mogem::result_file_name(out, ".weights"), fitted);
    mogem::write_posteriors(mogem::result_file_name(out, ".probs"), result);
    mogem::write_labels(out, result);
    mogem::write_fit_summary(mogem::result_file_name(out, ".summary.json"), result);

    // A saved model reads back and predicts as the fitted one; a selection picks a candidate.
    mogem::write_model_file(mogem::result_file_name(out, ".model.json"), fitted);
    const mogem::model saved = mogem::read_model_file(mogem::result_file_name(out, ".model.json"));
    if (mogem::predict_proba(saved, rows) != result.posteriors) {
      std::printf("the saved model predicts other posteriors\n");
      return 1;
    }
    mogem::selection_settings choice;
    choice.max_classes = 3;
    const mogem::selection chosen = mogem::select_model(rows, file.settings, choice);
    std::printf("selected %d classes by BIC %.6g\n", chosen.best.model.classes, chosen.best.model.statistics.bic);

    // predict labels as predict_all, whose labels the Python tests hold against the argmax.
    if (mogem::predict(fitted, rows) != mogem::predict_all(fitted, rows).labels) {
      std::printf("predict and predict_all label the rows differently\n");
      return 1;
    }
    const std::vector<double> fresh(rows.values, rows.values + 2 * file.cols);
    const std::vector<int> labels = mogem::predict(fitted, {fresh.data(), 2, file.cols});
    std::printf("classes %d, steps %d, new rows in classes %d and %d\n", fitted.classes, fitted.steps, labels[0] + 1,
                labels[1] + 1);

    mogem::options none = file.settings;
    none.classes = 0;
    mogem::fit(rows, none);
    std::printf("a fit with no classes was not refused\n");
    return 1;
  } catch (const mogem::error &failure) {
    std::printf("refused: %s\n", failure.what());
    return failure.what_kind() == mogem::error::kind::invalid_input ? 0 : 1;
  }
}
