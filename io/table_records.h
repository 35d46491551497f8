// The records and fields of a delimited text (CSV, TSV), read in place without copying.
//
// Fields are split at the delimiter; a field that starts with a double quote runs to the
// closing quote, and inside it the delimiter and line breaks are plain characters and "" stands
// for one quote; only blanks may follow the closing quote. A record ends at LF or CRLF outside
// quotes (a lone CR is a plain character) or at the end of the text; empty lines are skipped.
// With the delimiter ' ' (blanks mode), any run of spaces and tabs separates fields and blanks
// at the start and end of a line are ignored, as are lines of blanks only. Blanks (spaces and
// tabs other than the delimiter) around an unquoted field are not part of it.
#ifndef MOGEM_IO_TABLE_RECORDS_H
#define MOGEM_IO_TABLE_RECORDS_H

#include <cstddef>
#include <string>
#include <vector>

namespace mogem::detail {

// A position in a text, not owning it.
struct record_cursor {
  const char *at, *end;
  char delimiter;
  long long line = 1;  // the line of `at`, counted from 1
};

// A field in place: its text without the enclosing quotes and surrounding blanks (a quoted
// field still holds its doubled quotes).
struct field_span {
  const char *first, *last;
  bool quoted;
};

enum class field_end {
  more,            // a delimiter followed: the record has another field
  record,          // the record ended (its line break is passed)
  unclosed_quote,  // the text ended inside a quoted field
  after_quote,     // something other than blanks followed a closing quote
};

// Skips empty lines (and in blanks mode lines of blanks and leading blanks); false when the
// text has ended.
bool start_record(record_cursor &c);

// Reads the field at the cursor into *field and moves past it and its delimiter or line break.
// On unclosed_quote and after_quote the cursor stays where the problem was found (its line is
// the line to report; for an unclosed quote, that of the opening quote is in *opened_line).
field_end next_field(record_cursor &c, field_span *field, long long *opened_line);

// The text of a field, doubled quotes made single.
std::string field_text(const field_span &field);

// The next record's fields as text, and the line it starts on. Returns false at the end of
// the text (with *error empty) or for a malformed record (*error then says what is wrong and
// on which line, as "line N: ...").
bool next_record(record_cursor &c, std::vector<std::string> &fields, long long *line, std::string *error);

// Moves a cursor at the start of a record past whole records until it stands at or beyond
// `target` or at the end of the text. False for a malformed record, where the cursor stops.
// Used to cut a text that holds quotes into pieces of whole records.
bool skip_records_to(record_cursor &c, const char *target);

}  // namespace mogem::detail

#endif
