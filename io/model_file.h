// The saved model's text into an open result file, for programs that stage their results
// (the public forms are in mogem/mogem.h).
#ifndef MOGEM_IO_MODEL_FILE_H
#define MOGEM_IO_MODEL_FILE_H

#include "io/output_file.h"
#include "mogem/files.h"

namespace mogem::detail {

// model_to_json(fitted) into out; a model with a value that is not finite, or with feature
// names that are not one per feature, is refused (error(invalid_input)) before anything is
// written.
void put_model(output_file &out, const model &fitted);

}  // namespace mogem::detail

#endif
