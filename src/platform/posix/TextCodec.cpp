#include "platform/TextCodec.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

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

std::u16string ToUtf16With(UConverter* conv, std::string_view bytes) {
  if (bytes.empty()) return {};
  ucnv_resetToUnicode(conv);
  // A single byte never yields more than two UTF-16 units in any code page.
  std::u16string out(bytes.size() * 2 + 2, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()),
                            static_cast<int32_t>(out.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string FromUtf16With(UConverter* conv, std::u16string_view text) {
  if (text.empty()) return {};
  ucnv_resetFromUnicode(conv);
  UErrorCode status = U_ZERO_ERROR;
  int32_t need = ucnv_fromUChars(conv, nullptr, 0, reinterpret_cast<const UChar*>(text.data()),
                                 static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
  std::string out(static_cast<size_t>(need), '\0');
  status = U_ZERO_ERROR;
  ucnv_resetFromUnicode(conv);
  ucnv_fromUChars(conv, out.data(), need + 0, reinterpret_cast<const UChar*>(text.data()),
                  static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  return out;
}

}  // namespace

void SetAnsiCodePage(const std::string& name) {
  ConverterPtr conv = OpenConverter(name);  // throws before anything changes
  AnsiState& s = State();
  s.converter = std::move(conv);
  s.name = name;
}

const std::string& AnsiCodePage() { return State().name; }

std::u16string AnsiToUtf16(std::string_view bytes) { return ToUtf16With(Ansi(), bytes); }

AnsiString Utf16ToAnsi(std::u16string_view text) { return FromUtf16With(Ansi(), text); }

std::u16string Utf8ToUtf16(std::string_view bytes) {
  if (bytes.empty()) return {};
  std::u16string out(bytes.size() + 1, u'\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &n,
                       bytes.data(), static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

Utf8String Utf16ToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  std::string out(text.size() * 3 + 1, '\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n,
                     reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                     0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string Utf16LEToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                   (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::u16string Utf16BEToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>((static_cast<uint8_t>(bytes[2 * i]) << 8) |
                                   static_cast<uint8_t>(bytes[2 * i + 1]));
  }
  return out;
}

ByteString Utf16ToUtf16LE(std::u16string_view text) {
  ByteString out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<char>(text[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return out;
}

std::u16string DecodeTextWithBom(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xFF\xFE")) return Utf16LEToUtf16(bytes.substr(2));
  if (starts("\xFE\xFF")) return Utf16BEToUtf16(bytes.substr(2));
  if (starts("\xEF\xBB\xBF")) return Utf8ToUtf16(bytes.substr(3));
  return AnsiToUtf16(bytes);
}

}  // namespace ordana
