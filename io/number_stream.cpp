#include "io/number_stream.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace mogem::detail {

namespace {

// White space as fscanf skips it in the C locale.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A token of the plain decimal form [+-]digits[.digits][(e|E)[+-]digits] (at least one mantissa
// digit, the fraction digits optional, a complete exponent): for these fscanf, strtod and
// from_chars agree on where the number ends (the whole token) and on its value. from_chars
// (which takes no '+') reads exactly that form when the token starts, after its sign, with a
// digit or a point, and reads it whole; its other forms (inf, nan) start with a letter. Tokens
// out of range are left to the library's conversion, which decides those.
inline bool read_plain_decimal(const char *first, const char *last, double *value) {
  const char *digits = first < last && *first == '+' ? first + 1 : first;
  const char *lead = digits < last && *digits == '-' && digits == first ? digits + 1 : digits;
  if (lead >= last || !(is_digit(*lead) || *lead == '.')) return false;
  double parsed;
  const std::from_chars_result r = std::from_chars(digits, last, parsed);
  if (r.ec != std::errc() || r.ptr != last) return false;
  *value = parsed;
  return true;
}

}  // namespace

bool read_whole_token(const char *first, const char *last, double *value) {
  if (first >= last) return false;
  if (read_plain_decimal(first, last, value)) return true;
  FILE *token = fmemopen(const_cast<char *>(first), static_cast<std::size_t>(last - first), "r");
  if (!token) return false;
  double parsed;
  int used = 0;
  const bool whole = std::fscanf(token, "%lf%n", &parsed, &used) == 1 && used == last - first;
  std::fclose(token);
  if (whole) *value = parsed;
  return whole;
}

number_stream::number_stream(FILE *fp, std::size_t buffer_bytes, unsigned long long limit)
    : fp_(fp),
      buffer_(new char[buffer_bytes > 0 ? buffer_bytes : 1]),
      capacity_(buffer_bytes > 0 ? buffer_bytes : 1),
      begin_(0),
      end_(0),
      remaining_(limit),
      ended_(false) {}

bool number_stream::stream_ended() const { return remaining_ == 0 || std::feof(fp_); }

bool number_stream::fill() {
  if (ended_) return false;
  if (begin_ > 0) {  // keep the unread part, at the front
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == capacity_) {  // one token fills the whole buffer: make room
    std::unique_ptr<char[]> larger(new char[2 * capacity_]);
    std::memcpy(larger.get(), buffer_.get(), end_);
    buffer_ = std::move(larger);
    capacity_ *= 2;
  }
  const std::size_t room = capacity_ - end_;
  const std::size_t got = std::fread(buffer_.get() + end_, 1, room < remaining_ ? room : remaining_, fp_);
  end_ += got;
  remaining_ -= got;
  if (got == 0) ended_ = true;
  return got > 0;
}

number_status number_stream::read(double *value) {
  // White space first, as fscanf skips it.
  for (;;) {
    while (begin_ < end_ && is_space(buffer_[begin_])) begin_++;
    if (begin_ < end_) break;
    if (!fill()) return stream_ended() ? NUMBER_MISSING : NUMBER_NOT_A_NUMBER;
  }
  // The token: everything up to the next white space or the end of the stream. No number
  // reaches beyond it.
  std::size_t stop = begin_;
  for (;;) {
    while (stop < end_ && !is_space(buffer_[stop])) stop++;
    if (stop < end_) break;
    const std::size_t offset = stop - begin_;  // fill() may move the unread part
    const bool more = fill();
    stop = begin_ + offset;
    if (!more) break;
  }
  const bool at_end = stop == end_;  // nothing follows the token in the stream
  const char *first = buffer_.get() + begin_, *last = buffer_.get() + stop;

  if (read_plain_decimal(first, last, value)) {
    begin_ = stop;
    return NUMBER_READ;
  }

  // Every other token goes through the library's own conversion, run on the token alone; the
  // white space or end of stream after it ends a number there as it ends one here.
  FILE *token = fmemopen(const_cast<char *>(first), stop - begin_, "r");
  if (!token) return NUMBER_NOT_A_NUMBER;
  double parsed;
  int used = 0;
  const int converted = std::fscanf(token, "%lf%n", &parsed, &used);
  const bool token_ended = std::feof(token) != 0;
  std::fclose(token);
  if (converted == 1) {
    *value = parsed;
    begin_ += static_cast<std::size_t>(used);
    return NUMBER_READ;
  }
  // The conversion read up to the end of the token: in the stream it read past the end too
  // when nothing followed the token.
  return at_end && token_ended && stream_ended() ? NUMBER_MISSING : NUMBER_NOT_A_NUMBER;
}

}  // namespace mogem::detail
