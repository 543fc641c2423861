// Text conversion on Windows: the ANSI code page through the Win32 code
// pages (MultiByteToWideChar / WideCharToMultiByte), UTF-8 by hand, so that
// malformed input decodes exactly as in the Linux build (one U+FFFD for each
// maximal ill-formed subsequence, as Unicode recommends and ICU does).
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/TextCodec.h"

namespace ordana {
namespace {

struct AnsiState {
  bool chosen = false;  // false: the system's ANSI code page (GetACP)
  std::string name;
  UINT codePage = 0;
  bool singleByte = true;
};

AnsiState& State() {
  static AnsiState state;
  return state;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 5 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The code page a name stands for; 0 when the name means none. The names
// are the ones the Linux build's converter takes for the same tables.
UINT CodePageOfName(const std::string& given) {
  const std::string n = Lower(given);
  static const struct {
    const char* name;
    UINT cp;
  } kNamed[] = {
      {"utf-8", CP_UTF8},       {"utf8", CP_UTF8},         {"us-ascii", 20127},
      {"ascii", 20127},         {"koi8-r", 20866},         {"koi8r", 20866},
      {"koi8-u", 21866},        {"koi8u", 21866},          {"latin1", 28591},
      {"macintosh", 10000},     {"x-mac-cyrillic", 10007}, {"mac-cyrillic", 10007},
      {"shift_jis", 932},       {"gbk", 936},              {"big5", 950},
      {"euc-kr", 949},          {"ibm866", 866},           {"ibm850", 850},
      {"ibm437", 437},
  };
  for (const auto& e : kNamed)
    if (n == e.name) return e.cp;
  for (const char* prefix : {"windows-", "cp", "ibm-", "ibm", "ms", ""}) {
    const std::string p = prefix;
    if (n.compare(0, p.size(), p) == 0 && AllDigits(n.substr(p.size())))
      return static_cast<UINT>(std::stoul(n.substr(p.size())));
  }
  for (const char* prefix : {"iso-8859-", "iso8859-", "iso_8859-", "iso8859_"}) {
    const std::string p = prefix;
    if (n.compare(0, p.size(), p) == 0 && AllDigits(n.substr(p.size()))) {
      const unsigned long part = std::stoul(n.substr(p.size()));
      if (part >= 1 && part <= 16 && part != 12) return static_cast<UINT>(28590 + part);
    }
  }
  return 0;
}

bool IsUtf8(UINT cp) { return cp == CP_UTF8; }

// Code pages that take neither WC_NO_BEST_FIT_CHARS nor a default character
// (stateful and GB18030 encodings): not offered as the ANSI code page.
bool TakesNoFlags(UINT cp) {
  return cp == 42 || cp == CP_UTF7 || (cp >= 50220 && cp <= 50229) || cp == 52936 || cp == 54936 ||
         (cp >= 57002 && cp <= 57011);
}

bool IsSingleByte(UINT cp) {
  CPINFO info{};
  return GetCPInfo(cp, &info) && info.MaxCharSize == 1;
}

void Choose(AnsiState& s, UINT cp, std::string name) {
  s.codePage = cp;
  s.singleByte = !IsUtf8(cp) && IsSingleByte(cp);
  s.name = std::move(name);
  s.chosen = true;
}

// The name of the system's own code page, as --codepage would give it.
std::string NameOfSystemCodePage(UINT cp) {
  if (IsUtf8(cp)) return "utf-8";
  return "windows-" + std::to_string(cp);
}

const AnsiState& Ansi() {
  AnsiState& s = State();
  if (!s.chosen) {
    const UINT cp = GetACP();
    Choose(s, cp, NameOfSystemCodePage(cp));
  }
  return s;
}

// The Win32 conversions count in int: long text goes through in pieces.
constexpr size_t kPiece = size_t{1} << 24;

[[noreturn]] void ConversionFailed() {
  throw std::runtime_error("text conversion failed: error " + std::to_string(GetLastError()));
}

void CheckSize(size_t n, size_t factor, size_t maxSize) {
  if (n > (maxSize - 16) / factor) throw std::length_error("text too long to convert");
}

// --- UTF-8 ----------------------------------------------------------------------------

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  if (bytes.empty()) return out;
  CheckSize(bytes.size(), 1, out.max_size());
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  auto at = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  size_t i = 0;
  while (i < n) {
    const uint8_t b = at(i);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int need = 0;
    char32_t c = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;  // no overlong forms
      if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back(u'\xFFFD');  // a continuation byte or a byte never used
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    for (; got < need && j < n; ++got, ++j) {
      const uint8_t t = at(j);
      if (t < (got == 0 ? lo : 0x80) || t > (got == 0 ? hi : 0xBF)) break;
      c = (c << 6) | (t & 0x3F);
    }
    if (got == need) {
      AppendCodePoint(out, c);
    } else {
      out.push_back(u'\xFFFD');  // the well-formed start of a sequence cut short
    }
    i = j;
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  CheckSize(text.size(), 3, out.max_size());
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;  // an unpaired surrogate
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// --- Code pages -------------------------------------------------------------------------

// Where a piece of multi-byte text may end: never between a lead byte and
// its trail byte.
size_t PieceEnd(UINT cp, bool singleByte, std::string_view bytes) {
  if (bytes.size() <= kPiece) return bytes.size();
  if (singleByte) return kPiece;
  size_t i = 0;
  while (i < kPiece) i += IsDBCSLeadByteEx(cp, static_cast<BYTE>(bytes[i])) ? 2 : 1;
  return std::min(i, bytes.size());
}

std::u16string CodePageToUtf16(const AnsiState& s, std::string_view bytes) {
  if (IsUtf8(s.codePage)) return DecodeUtf8(bytes);
  std::u16string out;
  if (bytes.empty()) return out;
  CheckSize(bytes.size(), 2, out.max_size());
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const size_t n = PieceEnd(s.codePage, s.singleByte, bytes);
    const int len = static_cast<int>(n);
    const int need = MultiByteToWideChar(s.codePage, 0, bytes.data(), len, nullptr, 0);
    if (need <= 0) ConversionFailed();
    const size_t used = out.size();
    out.resize(used + static_cast<size_t>(need));
    if (MultiByteToWideChar(s.codePage, 0, bytes.data(), len,
                            reinterpret_cast<wchar_t*>(out.data() + used), need) != need)
      ConversionFailed();
    bytes.remove_prefix(n);
  }
  return out;
}

std::string Utf16ToCodePage(const AnsiState& s, std::u16string_view text) {
  if (IsUtf8(s.codePage)) return EncodeUtf8(text);
  std::string out;
  if (text.empty()) return out;
  CheckSize(text.size(), 4, out.max_size());
  // A character the code page lacks becomes one '?', whatever its size in
  // UTF-16: surrogates (paired or not) go in as U+FFFF, which no code page
  // has, so that a pair does not turn into two of them.
  std::u16string replaced;
  if (std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; })) {
    replaced.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF)
        ++i;
      replaced.push_back(c >= 0xD800 && c <= 0xDFFF ? u'\xFFFF' : c);
    }
    text = replaced;
  }
  out.reserve(text.size() + 1);
  const char kDefault[] = "?";
  while (!text.empty()) {
    const size_t n = std::min(text.size(), kPiece);
    const int len = static_cast<int>(n);
    const wchar_t* src = reinterpret_cast<const wchar_t*>(text.data());
    BOOL usedDefault = FALSE;
    const int need =
        WideCharToMultiByte(s.codePage, WC_NO_BEST_FIT_CHARS, src, len, nullptr, 0, kDefault, &usedDefault);
    if (need <= 0) ConversionFailed();
    const size_t used = out.size();
    out.resize(used + static_cast<size_t>(need));
    if (WideCharToMultiByte(s.codePage, WC_NO_BEST_FIT_CHARS, src, len, out.data() + used, need,
                            kDefault, &usedDefault) != need)
      ConversionFailed();
    text.remove_prefix(n);
  }
  return out;
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
  const UINT cp = CodePageOfName(name);
  if (cp == 0 || TakesNoFlags(cp) || !IsValidCodePage(cp))
    throw std::invalid_argument("unknown code page: " + name);
  Choose(State(), cp, name);
}

const std::string& AnsiCodePage() { return Ansi().name; }

std::u16string AnsiToUtf16(AnsiView bytes) { return CodePageToUtf16(Ansi(), bytes.bytes()); }

AnsiString Utf16ToAnsi(std::u16string_view text) { return AnsiString(Utf16ToCodePage(Ansi(), text)); }

std::u16string Utf8ToUtf16(Utf8View bytes) { return DecodeUtf8(bytes.bytes()); }

Utf8String Utf16ToUtf8(std::u16string_view text) { return Utf8String(EncodeUtf8(text)); }

}  // namespace ordana
