#include "platform/TextCodec.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace ordana {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

struct AnsiState {
  std::string name = kDefaultAnsiCodePage;
  ConverterPtr converter;
};

AnsiState& State() {
  static AnsiState state;
  return state;
}

ConverterPtr OpenConverter(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr conv(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status) || !conv) {
    throw std::invalid_argument("unknown code page: " + name);
  }
  // From Unicode: characters the code page lacks become the code page's
  // default character. Windows uses '?' for its single-byte code pages, where
  // ICU's tables carry the control character SUB (0x1A), which would vanish
  // from a page or break it; so '?' is set, and the substitute callback
  // (never an escape callback) is used.
  status = U_ZERO_ERROR;
  ucnv_setSubstChars(conv.get(), "?", 1, &status);
  status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr,
                        nullptr, &status);
  status = U_ZERO_ERROR;
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                      &status);
  return conv;
}

UConverter* Ansi() {
  AnsiState& s = State();
  if (!s.converter) s.converter = OpenConverter(s.name);
  return s.converter.get();
}

// ICU counts in 32-bit integers: every conversion goes through it in pieces
// of at most kPiece input units, so text of any length converts whole (a
// single call over 2^31 units would fail, or its size would wrap around).
constexpr size_t kPiece = size_t{1} << 24;

[[noreturn]] void ConversionFailed(UErrorCode status) {
  throw std::runtime_error(std::string("text conversion failed: ") + u_errorName(status));
}

// Output of n input units that can grow to factor units each must fit.
void CheckSize(size_t n, size_t factor, size_t maxSize) {
  if (n > (maxSize - 16) / factor) throw std::length_error("text too long to convert");
}

std::u16string ToUtf16With(UConverter* conv, std::string_view bytes) {
  if (bytes.empty()) return {};
  std::u16string out;
  // A single byte never yields more than two UTF-16 units in any code page.
  CheckSize(bytes.size(), 2, out.max_size());
  ucnv_resetToUnicode(conv);
  const char* src = bytes.data();
  const char* const end = src + bytes.size();
  size_t used = 0;
  for (;;) {
    const size_t pieceLen = std::min<size_t>(static_cast<size_t>(end - src), kPiece);
    const char* const pieceEnd = src + pieceLen;
    const bool last = pieceEnd == end;
    out.resize(used + pieceLen * 2 + 16);  // room for this piece, converted in place
    UChar* const start = reinterpret_cast<UChar*>(out.data()) + used;
    UChar* target = start;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &target, reinterpret_cast<UChar*>(out.data()) + out.size(), &src, pieceEnd,
                   nullptr, last, &status);
    used += static_cast<size_t>(target - start);
    if (status == U_BUFFER_OVERFLOW_ERROR) continue;  // the rest of the piece next time
    if (U_FAILURE(status)) ConversionFailed(status);
    if (last && src == end) break;
  }
  out.resize(used);
  return out;
}

std::string FromUtf16With(UConverter* conv, std::u16string_view text) {
  if (text.empty()) return {};
  std::string out;
  CheckSize(text.size(), 4, out.max_size());
  out.reserve(text.size() + 1);
  ucnv_resetFromUnicode(conv);
  std::string buf(std::min(text.size(), kPiece) * 4 + 16, '\0');
  const UChar* src = reinterpret_cast<const UChar*>(text.data());
  const UChar* const end = src + text.size();
  for (;;) {
    const UChar* const pieceEnd = src + std::min<size_t>(static_cast<size_t>(end - src), kPiece);
    const bool last = pieceEnd == end;
    char* target = buf.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(conv, &target, target + buf.size(), &src, pieceEnd, nullptr, last, &status);
    out.append(buf.data(), static_cast<size_t>(target - buf.data()));
    if (status == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(status)) ConversionFailed(status);
    if (last && src == end) return out;
  }
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
  ConverterPtr conv = OpenConverter(name);  // throws before anything changes
  AnsiState& s = State();
  s.converter = std::move(conv);
  s.name = name;
}

const std::string& AnsiCodePage() { return State().name; }

std::u16string AnsiToUtf16(AnsiView bytes) { return ToUtf16With(Ansi(), bytes.bytes()); }

AnsiString Utf16ToAnsi(std::u16string_view text) { return AnsiString(FromUtf16With(Ansi(), text)); }

std::u16string Utf8ToUtf16(Utf8View text) {
  std::string_view bytes = text.bytes();
  std::u16string out;
  if (bytes.empty()) return out;
  CheckSize(bytes.size(), 1, out.max_size());
  out.reserve(bytes.size());
  std::u16string buf(std::min(bytes.size(), kPiece) + 1, u'\0');
  while (!bytes.empty()) {
    // Pieces end before a lead byte, so no sequence is cut (a run of more
    // than three continuation bytes is malformed wherever it is cut).
    size_t n = std::min(bytes.size(), kPiece);
    for (int back = 0; back < 3 && n < bytes.size() && n > 1 &&
                       (static_cast<uint8_t>(bytes[n]) & 0xC0) == 0x80;
         ++back)
      --n;
    int32_t got = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(buf.data()), static_cast<int32_t>(buf.size()), &got,
                         bytes.data(), static_cast<int32_t>(n), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) ConversionFailed(status);
    out.append(buf.data(), static_cast<size_t>(got));
    bytes.remove_prefix(n);
  }
  return out;
}

namespace {

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  CheckSize(text.size(), 3, out.max_size());
  out.reserve(text.size() + text.size() / 2);
  std::string buf(std::min(text.size(), kPiece) * 3 + 1, '\0');
  while (!text.empty()) {
    size_t n = std::min(text.size(), kPiece);
    // A surrogate pair stays in one piece.
    if (n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF && n > 1) --n;
    int32_t got = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(buf.data(), static_cast<int32_t>(buf.size()), &got,
                       reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(n), 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status)) ConversionFailed(status);
    out.append(buf.data(), static_cast<size_t>(got));
    text.remove_prefix(n);
  }
  return out;
}

}  // namespace

Utf8String Utf16ToUtf8(std::u16string_view text) { return Utf8String(EncodeUtf8(text)); }

}  // namespace ordana
