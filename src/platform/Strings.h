#pragma once
// Small text helpers shared by the readers and the report. They follow the
// rules of the system's own text functions: "trim" removes characters up to
// and including U+0020 (blanks and control characters) from the ends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ordana {

std::u16string Trim(std::u16string_view s);
std::u16string TrimLeft(std::u16string_view s);
std::u16string TrimRight(std::u16string_view s);
// Byte-string forms (bytes up to and including 0x20 are removed).
std::string TrimBytes(std::string_view s);
std::string TrimRightBytes(std::string_view s);

// Case mapping of the ASCII letters only (a-z <-> A-Z).
std::u16string UpperAscii(std::u16string_view s);
std::string UpperAscii(std::string_view s);
// Full Unicode lower-casing, code unit by code unit (simple case mapping).
std::u16string LowerCase(std::u16string_view s);

// Signed 32-bit decimal: optional leading blanks, optional sign, digits, and
// nothing after them. Overflow or any other text gives nullopt.
std::optional<int32_t> TryStrToInt(std::u16string_view s);
std::optional<int32_t> TryStrToInt(std::string_view s);
inline int32_t StrToIntDef(std::u16string_view s, int32_t def) { return TryStrToInt(s).value_or(def); }
inline int32_t StrToIntDef(std::string_view s, int32_t def) { return TryStrToInt(s).value_or(def); }

// Decimal text of a number, as UTF-16.
std::u16string IntToStr(int64_t v);

}  // namespace ordana
