#pragma once
// A text file read in pieces of whole lines, so a file of any size is
// decoded without holding all of it (or its UTF-16 text) in memory.
//
// The encoding is that of DecodeTextWithBom: a byte-order mark selects
// UTF-16LE (FF FE), UTF-16BE (FE FF) or UTF-8 (EF BB BF) and is dropped;
// without one the bytes are in the ANSI code page. Each piece ends at the end
// of a line (after LF, or after a CR that is not followed by LF), except the
// last piece of the file, so no line and no CR LF pair is ever cut between
// two pieces and ForEachLine over the pieces finds the lines of the whole
// text. (A line feed or carriage return byte never stands inside a
// multi-byte character of UTF-8 or of an ANSI code page.)
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileIO.h"

namespace ordana {

// Calls fn(line) for every line of text; CR, LF and CR LF end a line, and a
// last line without an end counts too.
template <class Fn>
void ForEachLine(std::u16string_view text, Fn&& fn) {
  size_t start = 0;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      fn(text.substr(start, i - start));
      i += (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < n) fn(text.substr(start));
}

class TextFileReader {
 public:
  enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };
  // Reads pieceBytes of the file at a time (a line longer than that is
  // collected whole). Throws EFOpenError naming the file when it cannot be
  // opened.
  explicit TextFileReader(std::u16string_view path, size_t pieceBytes = size_t{1} << 20);

  // The next piece of text in text; false (and text empty) at the end.
  // Throws EFOpenError naming the file when a read fails.
  bool Next(std::u16string& text);
  Encoding TextEncoding() const { return encoding_; }

 private:
  bool Fill();                      // appends the next bytes to carry_; false at the end
  size_t CutPoint(bool atEnd);      // where the complete lines in carry_ end

  std::u16string path_;
  InputFile file_;
  size_t pieceBytes_;
  Encoding encoding_ = Encoding::Ansi;
  std::string carry_;  // bytes read but not yet decoded
  size_t searched_ = 0;  // units of carry_ known to hold no line end that can be cut after
  bool started_ = false, atEnd_ = false;
};

}  // namespace ordana
