#pragma once
// The one place where text changes encoding. Every reader, the log loader and
// the report writer go through these functions; nothing else converts by hand.
//
// In memory, text is UTF-16 (std::u16string). 8-bit text carries its encoding
// in its type: AnsiString holds bytes in the process's ANSI code page,
// Utf8String holds UTF-8, and raw bytes with no text meaning are a plain
// ByteString (std::string, the byte toolkit's currency). The three do not
// convert into one another: bytes become text by naming their encoding
// (AnsiString(bytes), Utf8View(bytes)), text becomes another encoding only
// through UTF-16 and the functions below, and `.bytes()` hands the stored
// bytes back where a file or a message takes them.
#include <compare>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace ordana {

using ByteString = std::string;  // raw bytes with no text meaning

struct AnsiEncoding;
struct Utf8Encoding;

// A literal in our sources is UTF-8 (ASCII at most, in the code page's case),
// so UTF-8 text may be written as a literal; ANSI text must be named so.
template <class Encoding>
inline constexpr bool kLiteralsAre = std::is_same_v<Encoding, Utf8Encoding>;

template <class Encoding>
class EncodedView;

// Bytes of text in one 8-bit encoding. A small value type: it stores, compares
// and trims like a string, but never turns into a string of another encoding
// by itself.
template <class Encoding>
class EncodedString {
 public:
  EncodedString() = default;
  explicit EncodedString(std::string bytes) : bytes_(std::move(bytes)) {}
  explicit EncodedString(std::string_view bytes) : bytes_(bytes) {}
  explicit(!kLiteralsAre<Encoding>) EncodedString(const char* bytes) : bytes_(bytes) {}
  explicit EncodedString(EncodedView<Encoding> view);

  const std::string& bytes() const& { return bytes_; }
  std::string bytes() && { return std::move(bytes_); }
  std::string_view view() const { return bytes_; }
  bool empty() const { return bytes_.empty(); }
  size_t size() const { return bytes_.size(); }

  EncodedString& operator+=(const EncodedString& more) {
    bytes_ += more.bytes_;
    return *this;
  }
  friend EncodedString operator+(EncodedString a, const EncodedString& b) { return a += b; }
  friend bool operator==(const EncodedString&, const EncodedString&) = default;
  friend auto operator<=>(const EncodedString&, const EncodedString&) = default;
  // A literal in our sources is ASCII or UTF-8; comparing with one is no conversion.
  friend bool operator==(const EncodedString& a, const char* literal) { return a.bytes_ == literal; }
  friend std::ostream& operator<<(std::ostream& out, const EncodedString& s) { return out << s.bytes_; }

 private:
  std::string bytes_;
};

// A view of bytes in one encoding: what the conversions take, so that a
// reader names the encoding of the bytes it found without copying them.
template <class Encoding>
class EncodedView {
 public:
  EncodedView() = default;
  explicit EncodedView(std::string_view bytes) : bytes_(bytes) {}
  explicit(!kLiteralsAre<Encoding>) EncodedView(const char* bytes) : bytes_(bytes) {}
  EncodedView(const EncodedString<Encoding>& s) : bytes_(s.view()) {}  // NOLINT: same encoding
  std::string_view bytes() const { return bytes_; }

 private:
  std::string_view bytes_;
};

template <class Encoding>
EncodedString<Encoding>::EncodedString(EncodedView<Encoding> view) : bytes_(view.bytes()) {}

using AnsiString = EncodedString<AnsiEncoding>;  // bytes in the ANSI code page (see SetAnsiCodePage)
using AnsiView = EncodedView<AnsiEncoding>;
using Utf8String = EncodedString<Utf8Encoding>;  // UTF-8 bytes
using Utf8View = EncodedView<Utf8Encoding>;

// The "system's ANSI code page": on Windows the system's own (GetACP), on
// Linux Windows-1251, unless changed. The name is a code page name
// ("windows-1252", "cp1251", "iso-8859-5", ...: on Linux any converter ICU
// knows, on Windows the code pages the system has). Throws
// std::invalid_argument for a name that names none. Process-wide.
void SetAnsiCodePage(const std::string& name);
const std::string& AnsiCodePage();
inline constexpr const char* kDefaultAnsiCodePage = "windows-1251";

// ANSI code page <-> UTF-16. Characters the code page lacks become its
// replacement character (never numeric entities); bytes that map to nothing
// become U+FFFD.
std::u16string AnsiToUtf16(AnsiView bytes);
AnsiString Utf16ToAnsi(std::u16string_view text);

// UTF-8 <-> UTF-16. Malformed UTF-8 sequences decode to U+FFFD; unpaired
// surrogates encode as U+FFFD.
std::u16string Utf8ToUtf16(Utf8View bytes);
Utf8String Utf16ToUtf8(std::u16string_view text);

// UTF-16 byte sequences (an odd trailing byte is ignored). No byte-order mark
// is looked for or removed.
std::u16string Utf16LEToUtf16(std::string_view bytes);
std::u16string Utf16BEToUtf16(std::string_view bytes);
ByteString Utf16ToUtf16LE(std::u16string_view text);

// A text file's bytes: a byte-order mark selects UTF-16LE (FF FE), UTF-16BE
// (FE FF) or UTF-8 (EF BB BF) and is dropped; without one the bytes are read
// in the ANSI code page.
std::u16string DecodeTextWithBom(std::string_view bytes);

// Convenience for diagnostics and file names: UTF-16 from the UTF-8 of our
// own sources (literals, messages).
inline std::u16string U16(std::string_view utf8) { return Utf8ToUtf16(Utf8View(utf8)); }

}  // namespace ordana
