#include "platform/FileNames.h"

#include <cstdint>
#include <cstdio>

namespace ordana {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr char16_t kCarriedBase = 0xDC00;  // + byte 0x80..0xFF

inline uint8_t Byte(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

// The well-formed UTF-8 sequence at bytes[i]: its length (1..4) and code
// point, or 0 when the bytes there start no well-formed sequence.
size_t DecodeOne(std::string_view bytes, size_t i, uint32_t& cp) {
  const uint8_t b = Byte(bytes, i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t len = 0;
  uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3, cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;  // no encoded surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const uint8_t c = Byte(bytes, i + k);
    if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  return len;
}

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Writes cp's UTF-8 sequence (1 to 4 bytes) at p; returns the end.
char* PutUtf8(char* p, uint32_t cp) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  char buf[4];
  out.append(buf, static_cast<size_t>(PutUtf8(buf, cp) - buf));
}

inline bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Walks UTF-16 text by code point; an unpaired surrogate comes as itself.
template <class Fn>
void ForEachCodePoint(std::u16string_view text, Fn&& fn) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
      fn(0x10000 + ((uint32_t{c} - 0xD800) << 10) + (uint32_t{text[i + 1]} - 0xDC00), false);
      ++i;
    } else {
      fn(uint32_t{c}, IsHigh(c) || IsLow(c));
    }
  }
}

void AppendPrintable(std::string& out, uint32_t cp) {
  char buf[8];
  if (cp == '\t') {
    out += "\\t";
  } else if (cp == '\n') {
    out += "\\n";
  } else if (cp == '\r') {
    out += "\\r";
  } else if (cp < 0x20 || cp == 0x7F) {
    std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(cp));
    out += buf;
  } else if (cp >= 0x80 && cp <= 0x9F) {
    std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
    out += buf;
  } else {
    AppendUtf8(out, cp);
  }
}

}  // namespace

std::u16string NameFromSystemBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp = 0;
    if (const size_t len = DecodeOne(bytes, i, cp)) {
      AppendUtf16(out, cp);
      i += len;
    } else {
      out += static_cast<char16_t>(kCarriedBase + Byte(bytes, i));  // always >= 0x80 here
      ++i;
    }
  }
  return out;
}

std::string NameToSystemBytes(std::u16string_view name) {
  // At most three bytes per UTF-16 unit (a surrogate pair's four for two);
  // the buffer is written directly and cut to what was written.
  std::string out(3 * name.size(), '\0');
  char* p = out.data();
  ForEachCodePoint(name, [&](uint32_t cp, bool unpaired) {
    if (unpaired && cp >= 0xDC80 && cp <= 0xDCFF) *p++ = static_cast<char>(cp - kCarriedBase);
    else p = PutUtf8(p, unpaired ? kReplacement : cp);
  });
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

std::string PrintableText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t len = DecodeOne(utf8, i, cp);
    if (len == 0) cp = kReplacement, len = 1;
    AppendPrintable(out, cp);
    i += len;
  }
  return out;
}

std::string PrintableText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](uint32_t cp, bool unpaired) { AppendPrintable(out, unpaired ? kReplacement : cp); });
  return out;
}

}  // namespace ordana
