#include "tools/csv/csv_records.h"


namespace {

bool at_line_end(const std::string &t, std::size_t pos) {
  return t[pos] == '\n' || (t[pos] == '\r' && pos + 1 < t.size() && t[pos + 1] == '\n');
}

// Moves past the line break at pos.
void skip_line_end(csv_cursor &c) {
  c.pos += (*c.text)[c.pos] == '\r' ? 2 : 1;
  c.line++;
}

}  // namespace

csv_cursor csv_start(const std::string &text) {
  csv_cursor c;
  c.text = &text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) c.pos = 3;
  return c;
}

bool csv_next_record(csv_cursor &c, char delimiter, std::vector<std::string> &fields, int *line,
                     std::string *error) {
  const std::string &t = *c.text;
  error->clear();
  fields.clear();
  while (c.pos < t.size() && at_line_end(t, c.pos)) skip_line_end(c);
  if (c.pos >= t.size()) return false;
  *line = c.line;

  std::string field;
  for (;;) {
    if (c.pos < t.size() && t[c.pos] == '"') {
      const int opened = c.line;
      c.pos++;
      for (;;) {
        if (c.pos >= t.size()) {
          *error = "line " + std::to_string(opened) + ": a quoted field is not closed";
          return false;
        }
        if (t[c.pos] == '"') {
          if (c.pos + 1 < t.size() && t[c.pos + 1] == '"') {
            field += '"';
            c.pos += 2;
            continue;
          }
          c.pos++;
          break;
        }
        if (t[c.pos] == '\n') c.line++;
        field += t[c.pos++];
      }
      // Only blanks may stand between the closing quote and the end of the field.
      while (c.pos < t.size() && (t[c.pos] == ' ' || t[c.pos] == '\t') && t[c.pos] != delimiter) c.pos++;
      if (c.pos < t.size() && t[c.pos] != delimiter && !at_line_end(t, c.pos)) {
        *error = "line " + std::to_string(c.line) + ": text after the closing quote of a field";
        return false;
      }
    } else {
      while (c.pos < t.size() && t[c.pos] != delimiter && !at_line_end(t, c.pos)) field += t[c.pos++];
    }
    fields.push_back(field);
    field.clear();
    if (c.pos >= t.size()) return true;
    if (t[c.pos] == delimiter) {
      c.pos++;
      continue;
    }
    skip_line_end(c);
    return true;
  }
}
