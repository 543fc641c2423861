#pragma once
// File names between the operating system and the UTF-16 text the program
// holds, and text made safe to print.
//
// A name that comes from the system (a folder entry, a command-line
// argument, the program's own path) becomes UTF-16 text that turns back into
// exactly the same name on its way to the system, whatever the name holds:
//  - where the system's names are UTF-16 (Windows), the code units pass
//    unchanged both ways, unpaired surrogates included;
//  - where they are bytes (POSIX), well-formed UTF-8 is decoded, and each
//    byte that is not part of a well-formed sequence is carried as the
//    unpaired surrogate U+DC80..U+DCFF (byte 0x80..0xFF; a byte below 0x80
//    is always well-formed on its own). On the way back such a surrogate
//    becomes its byte again; everything else is encoded as UTF-8.
// Messages never show a carried byte or an unpaired surrogate: Utf16ToUtf8
// and PrintableText put U+FFFD in their place.
#include <string>
#include <string_view>

namespace ordana {

// Bytes of a POSIX name -> UTF-16, losslessly (see above).
std::u16string NameFromSystemBytes(std::string_view bytes);
// UTF-16 -> the bytes of a POSIX name. NameToSystemBytes(NameFromSystemBytes(b))
// == b for every b. Unpaired surrogates other than the carried bytes cannot
// stand in a name and become U+FFFD.
std::string NameToSystemBytes(std::u16string_view name);

// Text for a terminal or a log: UTF-8 in which every control character is
// written out instead of acting (so a tag value or a file name cannot move
// the cursor or change the terminal). Tab, line feed and carriage return
// become \t \n \r, the other C0 characters and DEL \xHH, the C1 characters
// (U+0080..U+009F) \u00HH. Bytes that are not well-formed UTF-8 and carried
// bytes show as U+FFFD. Nothing else changes (backslashes stay as they are).
std::string PrintableText(std::string_view utf8);
std::string PrintableText(std::u16string_view text);

}  // namespace ordana
