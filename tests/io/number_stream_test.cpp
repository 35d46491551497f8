#include "io/number_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/data_pieces.h"

using namespace mogem::detail;

namespace {

struct reading {
  std::vector<uint64_t> bits;  // every number read, as its bit pattern
  number_status end;           // why reading stopped
};

FILE *stream_of(const std::string &text) {
  FILE *fp = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), fp);
  std::rewind(fp);
  return fp;
}

uint64_t bits_of(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

reading with_fscanf(const std::string &text) {
  FILE *fp = stream_of(text);
  reading r;
  double v;
  while (std::fscanf(fp, "%lf", &v) == 1) r.bits.push_back(bits_of(v));
  r.end = std::feof(fp) ? NUMBER_MISSING : NUMBER_NOT_A_NUMBER;
  std::fclose(fp);
  return r;
}

reading with_number_stream(const std::string &text, std::size_t buffer_bytes) {
  FILE *fp = stream_of(text);
  reading r;
  {
    number_stream numbers(fp, buffer_bytes);
    double v;
    number_status status;
    while ((status = numbers.read(&v)) == NUMBER_READ) r.bits.push_back(bits_of(v));
    r.end = status;
  }
  std::fclose(fp);
  return r;
}

// Plain decimal tokens: the fast path (and the library's path where it is out of range).
std::string plain_token(std::mt19937_64 &rng) {
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>('0' + rng() % 10);
    return s;
  };
  std::string t;
  if (rng() % 3 == 0) t += rng() % 2 ? "-" : "+";
  const int length = rng() % 8 == 0 ? 1 + rng() % 40 : 1 + rng() % 10;
  const int point = rng() % (length + 2);
  t += digits(point);
  if (point <= length) t += "." + digits(length - point);
  if (t.find_first_of("0123456789") == std::string::npos) t += "7";
  if (rng() % 2) {
    t += rng() % 2 ? "e" : "E";
    if (rng() % 2) t += rng() % 2 ? "-" : "+";
    const int exponent = rng() % 4 == 0 ? rng() % 400 : rng() % 40;
    t += std::to_string(exponent);
  }
  return t;
}

// Tokens longer than any buffer are read whole.
const std::string long_digits(5000, '3');
const std::string special_tokens[] = {
    "1" + long_digits + "e-4990", "0." + long_digits,
    "1.7976931348623157e308", "1.7976931348623159e308", "1.797693134862315807e308", "2.2250738585072014e-308",
    "2.2250738585072011e-308", "4.9406564584124654e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
    "1e-400", "-1e-400", "1e400", "-1e400", "0", "-0", "+0", "0e0", "-0.0e-999", "000000000000000000001.5",
    "0x1p3", "0x.8", "-0X1P-2", "0x1.fffffffffffffp1023", "0x1p-1074", "inf", "-INF", "infinity", "+Infinity",
    "nan", "NAN", "nan(123)", "-nan", "1e", "1e+", "1E-", "1.5-2", "1e5x", "2.5.5", ".", "-", "+", "..5", "1..2",
    "0x", "0xg", "infx", "in", "nanq", "abc", "1,5", "e5", ".e5", "-.5", "5.", "+.5e-3", "0x1p", "1e5e5", "--1",
    "9999999999999999999999999999999999999999.999999999999999999999e-25", "\x01", "12\x7f",
};

const char *const spaces[] = {" ", "  ", "\t", "\n", "\r\n", "\v", "\f", " \n\t"};

// Up to max_tokens tokens, one in special_one_in from the special list, between spaces of
// every kind, sometimes some before the first and after the last.
std::string random_text(std::mt19937_64 &rng, int max_tokens, int special_one_in) {
  const int specials = sizeof special_tokens / sizeof *special_tokens;
  std::string text;
  if (rng() % 4 == 0) text += spaces[rng() % 8];
  const int tokens = 1 + rng() % max_tokens;
  for (int n = 0; n < tokens; n++) {
    text += rng() % special_one_in ? plain_token(rng) : special_tokens[rng() % specials];
    if (n + 1 < tokens || rng() % 2) text += spaces[rng() % 8];
  }
  return text;
}

}  // namespace

// The buffered number reader against the C library's own stream reader, fscanf "%lf", on the
// same bytes: every number bit for bit, and the same place and reason to stop. Short texts are
// read with buffers of every size; every eighth text, a long one, also as a file read in pieces
// on several threads (io/data_pieces.h), down to one byte, and cut short at a count.
TEST(NumberStream, EveryNotationStopsWhereFscanfStopsWhateverTheBufferOrPieces) {
  std::mt19937_64 rng(7);
  char path[] = "/tmp/mogem-pieces-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::size_t numbers = 0;
  int stopped_early = 0;
  const std::size_t buffers[] = {1, 2, 3, 5, 8, 13, 64, 1 << 20};
  for (int trial = 0; trial < 3200; trial++) {
    const bool pieces = trial % 8 == 0;
    const std::string text = pieces ? random_text(rng, 60, 8) : random_text(rng, 6, 3);
    reading want = with_fscanf(text);
    const std::size_t buffer = buffers[rng() % 8];
    const reading got = with_number_stream(text, buffer);
    ASSERT_EQ(got.bits, want.bits) << "text [" << text << "], buffer " << buffer;
    ASSERT_EQ(got.end, want.end) << "text [" << text << "], buffer " << buffer;
    numbers += want.bits.size();
    if (!pieces) continue;
    FILE *out = std::fopen(path, "w");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    const std::size_t max_values = rng() % 3 ? SIZE_MAX : rng() % 40;
    if (want.bits.size() >= max_values) {
      want.bits.resize(max_values);
      want.end = NUMBER_READ;
    }
    const long long piece = 1 + rng() % 64;
    const int threads = 1 + rng() % 3;
    std::vector<uint64_t> in_pieces;
    const span_reading r = read_span(
        path, 0, static_cast<long long>(text.size()), max_values, threads,
        [&](const double *values, std::size_t n) {
          for (std::size_t i = 0; i < n; i++) in_pieces.push_back(bits_of(values[i]));
        },
        {}, piece);
    ASSERT_EQ(in_pieces, want.bits) << "text [" << text << "], pieces of " << piece << ", threads " << threads;
    ASSERT_EQ(r.count, want.bits.size());
    ASSERT_EQ(r.stop, want.end) << "text [" << text << "], pieces of " << piece;
    stopped_early += want.end == NUMBER_NOT_A_NUMBER;
  }
  std::remove(path);
  EXPECT_GT(numbers, 6000u);  // most texts hold numbers, not only tokens that stop the reading
  EXPECT_GT(stopped_early, 40);  // many long texts stop at a token that is not a number
}
