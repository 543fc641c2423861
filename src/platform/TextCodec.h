#pragma once
// The one place where text changes encoding. Every reader, the log loader and
// the report writer go through these functions; nothing else converts by hand.
//
// In memory, text is UTF-16 (std::u16string). Byte strings carry their meaning
// in their type alias: AnsiString holds bytes in the process's ANSI code page,
// Utf8String holds UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace ordana {

using AnsiString = std::string;  // bytes in the ANSI code page (see SetAnsiCodePage)
using Utf8String = std::string;  // UTF-8 bytes
using ByteString = std::string;  // raw bytes with no text meaning

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
std::u16string AnsiToUtf16(std::string_view bytes);
AnsiString Utf16ToAnsi(std::u16string_view text);

// UTF-8 <-> UTF-16. Malformed UTF-8 sequences decode to U+FFFD; unpaired
// surrogates encode as U+FFFD.
std::u16string Utf8ToUtf16(std::string_view bytes);
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

// Convenience for diagnostics and file names: UTF-8 from ASCII/UTF-8 literals.
inline std::u16string U16(std::string_view utf8) { return Utf8ToUtf16(utf8); }

}  // namespace ordana
