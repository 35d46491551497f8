#include "io/table_text.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "engine/kernels/parallel.h"
#include "io/number_stream.h"
#include "io/table_columns.h"
#include "io/table_records.h"
#include "mogem/mogem.h"

namespace mogem::detail {

namespace {

// Lines the delimiter is detected from.
constexpr int SAMPLE_RECORDS = 10;

// Bytes of text a piece holds, about, when the text is read on several threads.
constexpr std::size_t PIECE_BYTES = 4 << 20;

// Rows of a piece read before its storage is reserved for the rows its length suggests.
constexpr std::size_t ROWS_BEFORE_ESTIMATE = 256;

// The spellings of a missing value.
bool is_missing_word(const char *first, const char *last) {
  static const char *const words[] = {"NA", "N/A", "n/a", "NaN", "nan", "-nan", "NULL", "null", "None", "<NA>", "#N/A"};
  const std::size_t n = static_cast<std::size_t>(last - first);
  if (n == 0) return true;
  if (n > 4 || *first == '\0' || std::strchr("Nn<#-", *first) == nullptr) return false;  // the words' first letters
  for (const char *word : words)
    if (std::strlen(word) == n && std::memcmp(word, first, n) == 0) return true;
  return false;
}

enum class field_value { number, missing, not_a_number, not_finite };

// The value of a field, as the parameter file's reader reads the same token.
field_value value_of(const field_span &field, double *value) {
  if (is_missing_word(field.first, field.last)) return field_value::missing;
  if (!read_whole_token(field.first, field.last, value)) return field_value::not_a_number;
  if (std::isnan(*value)) return field_value::missing;
  return std::isfinite(*value) ? field_value::number : field_value::not_finite;
}

field_value value_of(const std::string &text) {
  double value;
  return value_of(field_span{text.data(), text.data() + text.size(), false}, &value);
}

bool is_number(const std::string &text) { return value_of(text) == field_value::number; }

bool is_text(const std::string &text) { return value_of(text) == field_value::not_a_number; }

// What went wrong first in a piece of the text, at a line counted from the piece's start.
struct piece_problem {
  enum kind { none, unclosed_quote, after_quote, field_count, missing, not_a_number, not_finite } what = none;
  long long line = 0;
  std::size_t field = 0;  // 0-based, for the field problems; the field count for field_count
  std::string text;       // the field
};

// The rows of one piece of the text.
struct piece {
  const char *from = nullptr, *to = nullptr;
  std::vector<double> values;
  std::size_t rows = 0, dropped = 0;
  long long lines = 0;  // line breaks in the piece
  piece_problem problem;
};

// How every record is read: which fields become which columns, and what a missing field does.
struct record_layout {
  char delimiter;
  std::size_t fields;             // fields a record must have
  std::vector<std::size_t> take;  // for each column, the field it comes from
  std::vector<char> wanted;       // for each field, whether a column comes from it
  bool drop_incomplete, keep_missing;
};

// Reads the rows of [p.from, p.to) into p, whose storage may hold an earlier piece's.
void read_piece(const record_layout &layout, piece &p) {
  p.values.clear();
  p.rows = p.dropped = 0;
  p.lines = 0;
  p.problem = {};
  record_cursor c{p.from, p.to, layout.delimiter, 0};
  std::vector<double> fields(layout.fields);
  auto fail = [&](piece_problem::kind what, long long line, std::size_t field, std::string text) {
    p.problem = {what, line, field, std::move(text)};
  };
  while (start_record(c)) {
    const long long line = c.line;
    std::size_t f = 0;
    bool incomplete = false;
    field_end end;
    do {
      field_span span;
      long long opened = c.line;
      end = next_field(c, &span, &opened);
      if (end == field_end::unclosed_quote) return fail(piece_problem::unclosed_quote, opened, 0, "");
      if (end == field_end::after_quote) return fail(piece_problem::after_quote, c.line, 0, "");
      if (f < layout.fields && layout.wanted[f]) {
        double value = 0;
        switch (value_of(span, &value)) {
          case field_value::number:
            break;
          case field_value::missing:
            if (!layout.drop_incomplete && !layout.keep_missing)
              return fail(piece_problem::missing, line, f, field_text(span));
            incomplete = true;
            value = std::numeric_limits<double>::quiet_NaN();
            break;
          case field_value::not_a_number:
            return fail(piece_problem::not_a_number, line, f, field_text(span));
          case field_value::not_finite:
            return fail(piece_problem::not_finite, line, f, field_text(span));
        }
        fields[f] = value;
      }
      f++;
    } while (end == field_end::more);
    if (f != layout.fields) return fail(piece_problem::field_count, line, f, "");
    if (incomplete && layout.drop_incomplete) {
      p.dropped++;
      continue;
    }
    for (std::size_t field : layout.take) p.values.push_back(fields[field]);
    if (++p.rows == ROWS_BEFORE_ESTIMATE) {
      // Room for the rest at the rows' length so far, though never more doubles than half the
      // piece's bytes (rows of empty fields first would ask for much more than later ones fill).
      const double bytes = static_cast<double>(p.to - p.from), read = static_cast<double>(c.at - p.from);
      const double values = bytes / read * static_cast<double>(p.values.size()) * 1.05;
      p.values.reserve(static_cast<std::size_t>(std::min(values, bytes / 2)));
    }
  }
  p.lines = c.line;
}

// Offsets that cut [from, to) into about `parts` pieces of whole records: after a line break
// when the text holds no quote, else where a reading of the records stands.
std::vector<const char *> cut_records(const char *from, const char *to, char delimiter, std::size_t parts) {
  std::vector<const char *> cuts{from};
  if (parts <= 1) return {from, to};
  const std::size_t length = static_cast<std::size_t>(to - from);
  const bool quotes = std::memchr(from, '"', length) != nullptr;
  record_cursor c{from, to, delimiter};
  for (std::size_t part = 1; part < parts; part++) {
    const char *target = from + length / parts * part;
    const char *cut = to;
    if (target <= cuts.back()) continue;
    if (!quotes) {
      const void *line_end = std::memchr(target - 1, '\n', static_cast<std::size_t>(to - target + 1));
      cut = line_end ? static_cast<const char *>(line_end) + 1 : to;
    } else if (skip_records_to(c, target)) {
      cut = c.at;
    }
    if (cut >= to) break;  // a malformed record ends the cutting: the last piece meets it
    if (cut > cuts.back()) cuts.push_back(cut);
  }
  cuts.push_back(to);
  return cuts;
}

// The rows of the pieces joined in order, and the first problem at its line in the text.
struct joined_rows {
  std::vector<double> values;
  std::size_t rows = 0, dropped = 0;
  piece_problem problem;  // its line counted from the text's first line
};

// Reads the pieces cut at `cuts` (their text starting at line `first_line`) on up to
// `threads` threads, each into storage of its own that it keeps from piece to piece; each
// piece is handed on as soon as the pieces before it were, and none after a problem.
joined_rows read_pieces(const record_layout &layout, const std::vector<const char *> &cuts, long long first_line,
                        int threads) {
  const std::size_t count = cuts.size() - 1;
  std::mutex lock;
  std::condition_variable turn;
  std::size_t next = 0, handed = 0;
  bool done = false;
  long long line = first_line;
  joined_rows joined;
  // The first piece's rows go on as they are; the others' are appended.
  const auto hand_on = [&](piece &p, std::size_t k) {
    if (p.problem.what != piece_problem::none) {
      joined.problem = p.problem;
      joined.problem.line += line;
      done = true;
      return;
    }
    if (k > 0) {
      joined.values.insert(joined.values.end(), p.values.begin(), p.values.end());
    } else if (p.to > p.from) {
      joined.values.swap(p.values);
      // Room for the rest at the first piece's rows per byte (no more doubles than half the bytes).
      const double bytes = static_cast<double>(cuts[count] - cuts[0]), read = static_cast<double>(p.to - p.from);
      const double values = bytes / read * static_cast<double>(joined.values.size()) * 1.05;
      joined.values.reserve(static_cast<std::size_t>(std::min(values, bytes / 2)));
    }
    line += p.lines;
    joined.rows += p.rows;
    joined.dropped += p.dropped;
    handed++;
  };
  const auto read_in_turn = [&](piece &p) {
    for (;;) {
      std::size_t k;
      {
        std::lock_guard<std::mutex> held(lock);
        if (done || next >= count) return;
        k = next++;
      }
      p.from = cuts[k], p.to = cuts[k + 1];
      read_piece(layout, p);
      std::unique_lock<std::mutex> held(lock);
      turn.wait(held, [&] { return done || handed == k; });
      if (done) return;
      hand_on(p, k);
      turn.notify_all();
    }
  };
  em_run_parts(static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), count)), [&](int) {
    piece p;
    try {
      read_in_turn(p);
    } catch (...) {  // out of memory: the others must not wait for this thread's pieces
      std::lock_guard<std::mutex> held(lock);
      done = true;
      turn.notify_all();
      throw;
    }
  });
  return joined;
}

[[noreturn]] void refuse_text(const std::string &message) { throw error(error::kind::invalid_input, message); }

// The refusal of a problem, its line counted from the text's first line.
[[noreturn]] void refuse_problem(const piece_problem &problem, const std::string &source,
                                 const std::vector<std::string> &names, long long first_line, std::size_t fields,
                                 bool header_stated) {
  const long long line = problem.line;
  const std::string at = source + ": line " + std::to_string(line);
  const std::string text = problem.text.size() > 60 ? problem.text.substr(0, 57) + "..." : problem.text;
  const std::string field = at + ", column " + column_label(problem.field, names) + ": \"" + text + "\"";
  // A first line of names read as data.
  const std::string header_hint =
      line == first_line && names.empty() && !header_stated ? " (a header line? --header yes)" : "";
  switch (problem.what) {
    case piece_problem::unclosed_quote:
      refuse_text(at + ": a quoted field is not closed (a quote inside a field is written \"\")");
    case piece_problem::after_quote:
      refuse_text(at + ": text after the closing quote of a field (a quote inside a field is written \"\")");
    case piece_problem::field_count:
      refuse_text(at + " has " + std::to_string(problem.field) + " field" + (problem.field == 1 ? "" : "s") +
                  " where line " + std::to_string(first_line) + " has " + std::to_string(fields) +
                  " (is the delimiter right? a field holding the delimiter needs quotes)");
    case piece_problem::missing:
      refuse_text(at + ", column " + column_label(problem.field, names) +
                  (problem.text.empty() ? " is empty" : ": \"" + problem.text + "\" is a missing value") +
                  "; leave out rows with a missing value with --drop-incomplete, fit them on their observed values "
                  "with --missing em, or the column with --columns");
    case piece_problem::not_a_number:
      refuse_text(field + " is not a number" + header_hint +
                  "; correct it, or leave the column out with --columns");
    case piece_problem::not_finite:
      refuse_text(field + " is not a finite number; correct it, or leave the column out with --columns");
    case piece_problem::none:
      break;
  }
  refuse_text(at + ": unreadable");
}

}  // namespace

char detect_delimiter(const char *text, std::size_t length) {
  int best_fields = 1;
  char best = 0;
  for (char d : {',', '\t', ';', ' '}) {
    if (d == ' ' && best) break;  // blanks only when no other delimiter fits
    record_cursor c{text, text + length, d};
    std::vector<std::string> fields;
    std::string problem;
    long long line;
    std::size_t first = 0;
    bool same = true;
    for (int r = 0; r < SAMPLE_RECORDS && same && next_record(c, fields, &line, &problem); r++) {
      if (r == 0) first = fields.size();
      same = fields.size() == first;
    }
    if (same && static_cast<int>(first) > best_fields) {
      best_fields = static_cast<int>(first);
      best = d;
    }
  }
  return best ? best : ',';
}

table read_text_table(const char *text, std::size_t length, const std::string &source, const table_request &request) {
  const char *begin = text, *end = text + length;
  if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) begin += 3;
  const char delimiter = request.delimiter ? request.delimiter : detect_delimiter(begin, end - begin);

  // The first record: the header, or the first row.
  record_cursor c{begin, end, delimiter};
  std::vector<std::string> first, sample;
  std::string problem;
  long long first_line = 1, sample_line = 1;
  if (!next_record(c, first, &first_line, &problem)) {
    if (!problem.empty()) refuse_text(source + ": " + problem + " (a quote inside a field is written \"\")");
    refuse_text(source + ": holds no data rows");
  }
  bool header = request.header == 1;
  if (request.header < 0) {
    header = true;
    for (const std::string &field : first) header = header && !is_number(field);
  }
  table result;
  std::vector<std::string> names;
  if (header) names = first;
  const char *data_begin = header ? c.at : begin;
  const long long data_line = header ? c.line : 1;

  // The columns: those asked for, else every one whose first data field is not text.
  record_layout layout{delimiter, first.size(), {}, std::vector<char>(first.size(), 0), request.drop_incomplete,
                       request.keep_missing};
  if (!request.columns.empty()) {
    layout.take = choose_columns(request.columns, first.size(), names, source);
  } else {
    const bool have_sample = header ? next_record(c, sample, &sample_line, &problem) : (sample = first, true);
    if (!header) sample_line = first_line;
    for (std::size_t f = 0; f < first.size(); f++)
      if (!have_sample || f >= sample.size() || !is_text(sample[f])) layout.take.push_back(f);
    if (layout.take.empty())
      refuse_text(source + ": line " + std::to_string(sample_line) +
                  " has no number; choose the columns to read with --columns");
  }
  for (std::size_t field : layout.take) {
    layout.wanted[field] = 1;
    result.names.push_back(header ? names[field] : std::to_string(field + 1));
  }
  result.cols = layout.take.size();

  // The rows, in pieces on the threads, joined in order.
  const int threads = threads_for(request.threads);
  const std::size_t span = static_cast<std::size_t>(end - data_begin);
  const std::size_t parts = threads == 1 ? 1 : std::max<std::size_t>(static_cast<std::size_t>(threads), span / PIECE_BYTES);
  const std::vector<const char *> cuts = cut_records(data_begin, end, delimiter, parts);
  joined_rows joined = read_pieces(layout, cuts, data_line, threads);
  if (joined.problem.what != piece_problem::none)
    refuse_problem(joined.problem, source, names, first_line, first.size(), request.header >= 0);
  if (joined.rows == 0)
    refuse_text(source + (joined.dropped ? ": every row has a missing value" : ": holds no data rows"));
  result.values = std::move(joined.values);
  result.dropped = joined.dropped;
  result.rows = joined.rows;
  return result;
}

bool is_missing_field(const std::string &text) { return value_of(text) == field_value::missing; }

}  // namespace mogem::detail
