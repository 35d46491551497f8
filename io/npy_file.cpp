#include "io/npy_file.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/table_columns.h"
#include "mogem/mogem.h"

namespace mogem::detail {

namespace {

constexpr char MAGIC[] = "\x93NUMPY";
constexpr std::size_t MAGIC_BYTES = 6;

// What the header says of the array.
struct npy_layout {
  std::size_t item = 8;  // bytes of an element: 8 (float64) or 4 (float32)
  bool big_endian = false, fortran = false;
  std::size_t rows = 0, cols = 0;
  const char *data = nullptr;
};

[[noreturn]] void refuse_npy(const std::string &source, const std::string &what) {
  throw error(error::kind::invalid_input, source + ": " + what);
}

// The text after "'key':" in the header's dictionary, blanks skipped; empty when the key is not there.
std::string after_key(const std::string &header, const char *key) {
  std::size_t at = header.find(std::string("'") + key + "'");
  if (at == std::string::npos) at = header.find(std::string("\"") + key + "\"");
  if (at == std::string::npos) return "";
  at = header.find(':', at);
  if (at == std::string::npos) return "";
  at = header.find_first_not_of(" ", at + 1);
  return at == std::string::npos ? "" : header.substr(at);
}

npy_layout layout_of(const char *bytes, std::size_t length, const std::string &source) {
  const std::string remedy = "; save the array with numpy.save";
  if (length < MAGIC_BYTES + 4) refuse_npy(source, "is not a NumPy .npy file (too short)" + remedy);
  const unsigned char major = static_cast<unsigned char>(bytes[6]);
  const unsigned char *size = reinterpret_cast<const unsigned char *>(bytes + 8);
  std::size_t header_at = 10, header_bytes = size[0] | size[1] << 8;
  if (major == 2 || major == 3) {
    if (length < 12) refuse_npy(source, "is cut short in its header" + remedy);
    header_at = 12;
    header_bytes = size[0] | size[1] << 8 | size[2] << 16 | static_cast<std::size_t>(size[3]) << 24;
  } else if (major != 1) {
    refuse_npy(source, "is a NumPy file of version " + std::to_string(major) + ", which this program does not read" + remedy);
  }
  if (header_bytes > length - header_at) refuse_npy(source, "is cut short in its header" + remedy);
  const std::string header(bytes + header_at, header_bytes);
  npy_layout l;
  l.data = bytes + header_at + header_bytes;

  const std::string descr = after_key(header, "descr");
  const std::size_t close = descr.empty() ? std::string::npos : descr.find(descr[0], 1);
  const std::string type = close == std::string::npos ? descr.substr(0, 12) : descr.substr(1, close - 1);
  if (type == "<f8" || type == "=f8" || type == ">f8")
    l.item = 8;
  else if (type == "<f4" || type == "=f4" || type == ">f4")
    l.item = 4;
  else
    refuse_npy(source, "holds elements of type \"" + type +
                           "\"; this program reads float64 and float32 (save X.astype(numpy.float64))");
  l.big_endian = type[0] == '>';

  const std::string order = after_key(header, "fortran_order");
  if (order.compare(0, 4, "True") == 0)
    l.fortran = true;
  else if (order.compare(0, 5, "False") != 0)
    refuse_npy(source, "has a header without \"fortran_order\"" + remedy);

  const std::string shape = after_key(header, "shape");
  std::vector<std::size_t> dims;
  std::size_t p = 1;
  if (shape.empty() || shape[0] != '(') refuse_npy(source, "has a header without \"shape\"" + remedy);
  for (;;) {
    p = shape.find_first_not_of(" ,", p);
    if (p == std::string::npos) refuse_npy(source, "has a header with a bad \"shape\"" + remedy);
    if (shape[p] == ')') break;
    const std::size_t end = shape.find_first_not_of("0123456789", p);
    if (end == p || end == std::string::npos || end - p > 18)
      refuse_npy(source, "has a header with a bad \"shape\"" + remedy);
    dims.push_back(static_cast<std::size_t>(std::stoull(shape.substr(p, end - p))));
    p = end;
  }
  if (dims.empty() || dims.size() > 2)
    refuse_npy(source, "holds an array of " + std::to_string(dims.size()) +
                           " dimensions; this program reads a table (rows x columns) or a single column");
  l.rows = dims[0];
  l.cols = dims.size() == 2 ? dims[1] : 1;
  if (l.rows == 0 || l.cols == 0) refuse_npy(source, "holds no data rows");
  unsigned long long elements, needed;
  if (__builtin_mul_overflow(static_cast<unsigned long long>(l.rows), static_cast<unsigned long long>(l.cols), &elements) ||
      __builtin_mul_overflow(elements, static_cast<unsigned long long>(l.item), &needed) ||
      needed > static_cast<unsigned long long>(bytes + length - l.data))
    refuse_npy(source, "is cut short: its shape needs more bytes than the file holds");
  return l;
}

// The element at `index` (in the file's order) as a double.
inline double element(const npy_layout &l, std::size_t index) {
  const char *at = l.data + index * l.item;
  if (l.item == 8) {
    std::uint64_t bits;
    std::memcpy(&bits, at, 8);
    if (l.big_endian) bits = __builtin_bswap64(bits);
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
  }
  std::uint32_t bits;
  std::memcpy(&bits, at, 4);
  if (l.big_endian) bits = __builtin_bswap32(bits);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

}  // namespace

bool is_npy(const char *bytes, std::size_t length) {
  return length >= MAGIC_BYTES && std::memcmp(bytes, MAGIC, MAGIC_BYTES) == 0;
}

table read_npy_table(const char *bytes, std::size_t length, const std::string &source, const table_request &request) {
  if (!is_npy(bytes, length)) refuse_npy(source, "is not a NumPy .npy file (it does not start as one)");
  const npy_layout l = layout_of(bytes, length, source);
  table result;
  std::vector<std::size_t> take;
  if (request.columns.empty())
    for (std::size_t c = 0; c < l.cols; c++) take.push_back(c);
  else
    take = choose_columns(request.columns, l.cols, {}, source);
  for (std::size_t c : take) result.names.push_back(std::to_string(c + 1));
  result.cols = take.size();

  result.values.resize(l.rows * result.cols);  // running out of memory is read_table's to report
  double *out = result.values.data();
  const bool plain = l.item == 8 && !l.big_endian && !l.fortran && take.size() == l.cols;
  if (plain) std::memcpy(out, l.data, l.rows * l.cols * sizeof(double));  // the mapped file copied whole
  for (std::size_t r = 0; r < l.rows; r++) {
    // Rows are kept in place, moved up over those dropped.
    const double *copied = result.values.data() + r * l.cols;
    double *row = out;
    bool incomplete = false;
    for (std::size_t j = 0; j < take.size(); j++) {
      const double value = plain ? copied[j] : element(l, l.fortran ? take[j] * l.rows + r : r * l.cols + take[j]);
      if (!std::isfinite(value)) {
        const std::string at = "row " + std::to_string(r + 1) + ", column " + std::to_string(take[j] + 1);
        if (!std::isnan(value))
          refuse_npy(source, at + " is " + (value > 0 ? "inf" : "-inf") + ", not a finite number");
        if (!request.drop_incomplete && !request.keep_missing)
          refuse_npy(source, at + " is NaN (a missing value); leave out rows with a missing value with "
                                  "--drop-incomplete, fit them on their observed values with --missing em, or the "
                                  "column with --columns");
        incomplete = true;
      }
      row[j] = value;
    }
    if (incomplete && request.drop_incomplete) {
      result.dropped++;
      continue;
    }
    out += result.cols;
  }
  result.rows = l.rows - result.dropped;
  result.values.resize(result.rows * result.cols);
  if (result.rows == 0) refuse_npy(source, "every row has a missing value");
  return result;
}

}  // namespace mogem::detail
