// The conversions that are the same on every system: UTF-16 byte orders and
// the byte-order mark of text files. The code-page and UTF-8 conversions are
// the backends' (posix: ICU, win32: the Win32 code pages).
#include "platform/TextCodec.h"

#include <cstdint>

namespace ordana {

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
  if (starts("\xEF\xBB\xBF")) return Utf8ToUtf16(Utf8View(bytes.substr(3)));
  return AnsiToUtf16(AnsiView(bytes));
}

}  // namespace ordana
