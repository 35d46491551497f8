// The numbers of the data matrix, read from the part of the input file after "begin".
//
// The numbers are read exactly as the C library's fscanf "%lf" reads them from the same
// stream: leading white space skipped, the longest prefix that can start a number consumed
// (the rest of a token such as "1e5x" is left for the next read), the same double for every
// notation strtod knows (decimal, hexadecimal, inf, nan, signs), the same failures. Plain
// decimal tokens are converted with std::from_chars, which yields the same correctly rounded
// double as strtod; everything else goes through the library's own conversion.
#ifndef MOGEM_IO_NUMBER_STREAM_H
#define MOGEM_IO_NUMBER_STREAM_H

#include <cstddef>
#include <cstdio>
#include <memory>

namespace mogem::detail {

enum number_status {
  NUMBER_READ = 0,
  NUMBER_MISSING = 1,       // the stream ended (where fscanf would have left feof set)
  NUMBER_NOT_A_NUMBER = 2,  // the next characters do not form a number (or a read error)
};

// Reads numbers from an open stream through a buffer of its own; the stream must not be read
// by anything else while the reader is in use. Owns only its buffer.
class number_stream {
 public:
  // buffer_bytes is where the reader starts (it grows for a longer token); any size reads the
  // same numbers. With `limit`, the reader takes at most that many bytes from the stream and
  // treats the byte after them as the end of the stream (a piece of a file, io/data_pieces.h).
  explicit number_stream(FILE *fp, std::size_t buffer_bytes = 1 << 20,
                         unsigned long long limit = ~0ULL);
  number_stream(const number_stream &) = delete;
  number_stream &operator=(const number_stream &) = delete;

  // Stores the next number in *value and returns NUMBER_READ, or returns why there is none
  // (leaving *value untouched).
  number_status read(double *value);

 private:
  bool fill();  // appends more of the stream to the buffer; false at the end or on an error
  bool stream_ended() const;  // the end of the stream (or of the limit) was reached, not an error
  FILE *fp_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_, begin_, end_;
  unsigned long long remaining_;  // bytes the limit still allows
  bool ended_;
};

// The number a field of a table spells, read as number_stream reads a token: true with *value
// when the number read at `first` ends exactly at `last` (the same double the reader gives for
// the same token in a parameter file); false when [first, last) is not one number.
bool read_whole_token(const char *first, const char *last, double *value);

}  // namespace mogem::detail

#endif
