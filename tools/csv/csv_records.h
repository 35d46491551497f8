// Records of a CSV text, one at a time.
//
// Fields are split at the delimiter; a field may be enclosed in double quotes, inside which
// the delimiter and line breaks are plain characters and "" stands for one quote. Records end
// at a line break (LF or CRLF) outside quotes. Lines that are empty are skipped. A UTF-8
// byte-order mark at the very start is ignored.
#ifndef MOGEM_TOOLS_CSV_CSV_RECORDS_H
#define MOGEM_TOOLS_CSV_CSV_RECORDS_H

#include <string>
#include <vector>

struct csv_cursor {
  const std::string *text;  // the whole input, not owned
  std::size_t pos = 0;
  int line = 1;  // line of text[pos], counted from 1
};

// A cursor at the start of text (past a byte-order mark).
csv_cursor csv_start(const std::string &text);

// Reads the next record into fields and the line it starts on into *line. Returns true for a
// record, false at the end of the text or on a malformed record; then *error is empty at the
// end and otherwise says what is wrong (an unclosed quote, text after a closing quote) with
// its line.
bool csv_next_record(csv_cursor &cursor, char delimiter, std::vector<std::string> &fields, int *line,
                     std::string *error);

#endif
