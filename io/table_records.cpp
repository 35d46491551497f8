#include "io/table_records.h"

namespace mogem::detail {

namespace {

inline bool is_blank(char c, char delimiter) { return (c == ' ' || c == '\t') && (c != delimiter || c == ' '); }

// A line break at p (LF, or CR LF); its length in *length.
inline bool line_break_at(const char *p, const char *end, int *length) {
  if (*p == '\n') return *length = 1, true;
  if (*p == '\r' && p + 1 < end && p[1] == '\n') return *length = 2, true;
  return false;
}

// After a field: the delimiter, a line break or the end. Blanks mode also takes the blanks
// that separate fields, and those at the end of a line.
field_end end_of_field(record_cursor &c) {
  const bool blanks = c.delimiter == ' ';
  if (blanks)
    while (c.at < c.end && (*c.at == ' ' || *c.at == '\t')) c.at++;
  if (c.at >= c.end) return field_end::record;
  int length;
  if (line_break_at(c.at, c.end, &length)) {
    c.at += length;
    c.line++;
    return field_end::record;
  }
  if (blanks) return field_end::more;  // the blanks were the separator
  if (*c.at == c.delimiter) {
    c.at++;
    return field_end::more;
  }
  return field_end::after_quote;
}

}  // namespace

bool start_record(record_cursor &c) {
  for (;;) {
    if (c.delimiter == ' ')
      while (c.at < c.end && (*c.at == ' ' || *c.at == '\t')) c.at++;
    int length;
    if (c.at >= c.end) return false;
    if (!line_break_at(c.at, c.end, &length)) return true;
    c.at += length;
    c.line++;
  }
}

field_end next_field(record_cursor &c, field_span *field, long long *opened_line) {
  const char d = c.delimiter;
  if (c.at < c.end && *c.at == '"') {
    *opened_line = c.line;
    const char *first = ++c.at;
    for (;;) {
      if (c.at >= c.end) return field_end::unclosed_quote;
      if (*c.at == '"') {
        if (c.at + 1 < c.end && c.at[1] == '"') {
          c.at += 2;
          continue;
        }
        break;
      }
      if (*c.at == '\n') c.line++;
      c.at++;
    }
    *field = {first, c.at, true};
    c.at++;
    if (d == ' ') {  // blanks, a line break or the end must follow, as a delimiter would
      int length;
      if (c.at < c.end && *c.at != ' ' && *c.at != '\t' && !line_break_at(c.at, c.end, &length))
        return field_end::after_quote;
    } else {
      while (c.at < c.end && is_blank(*c.at, d)) c.at++;
    }
    return end_of_field(c);
  }
  while (c.at < c.end && is_blank(*c.at, d)) c.at++;
  const char *first = c.at;
  if (d == ' ') {
    while (c.at < c.end && *c.at != ' ' && *c.at != '\t' && *c.at != '\n' && !(*c.at == '\r' && c.at + 1 < c.end && c.at[1] == '\n'))
      c.at++;
  } else {
    while (c.at < c.end && *c.at != d && *c.at != '\n') c.at++;
    if (c.at < c.end && *c.at == '\n' && c.at > first && c.at[-1] == '\r') c.at--;  // CR LF
  }
  const char *last = c.at;
  while (last > first && is_blank(last[-1], d)) last--;
  *field = {first, last, false};
  return end_of_field(c);
}

std::string field_text(const field_span &field) {
  std::string text;
  for (const char *p = field.first; p < field.last; p++) {
    text += *p;
    if (field.quoted && *p == '"') p++;  // the second of a doubled quote
  }
  return text;
}

bool next_record(record_cursor &c, std::vector<std::string> &fields, long long *line, std::string *error) {
  fields.clear();
  error->clear();
  if (!start_record(c)) return false;
  *line = c.line;
  for (;;) {
    field_span field;
    long long opened = c.line;
    const field_end end = next_field(c, &field, &opened);
    if (end == field_end::unclosed_quote) {
      *error = "line " + std::to_string(opened) + ": a quoted field is not closed";
      return false;
    }
    if (end == field_end::after_quote) {
      *error = "line " + std::to_string(c.line) + ": text after the closing quote of a field";
      return false;
    }
    fields.push_back(field_text(field));
    if (end == field_end::record) return true;
  }
}

bool skip_records_to(record_cursor &c, const char *target) {
  while (c.at < target && start_record(c)) {
    field_span field;
    long long opened;
    field_end end;
    do end = next_field(c, &field, &opened);
    while (end == field_end::more);
    if (end != field_end::record) return false;
  }
  return true;
}

}  // namespace mogem::detail
