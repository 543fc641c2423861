#pragma once
// File-name parts of paths that may have been written on Windows: the
// backslash, the slash and a drive colon all count as path delimiters.
#include <string>
#include <string_view>

namespace ordana {

// True for '\\', '/' and ':'.
bool IsPathDelimiter(char16_t c);
// The part after the last delimiter ("N:\Music\a.mp3" -> "a.mp3").
std::u16string ExtractFileName(std::u16string_view path);
// The folder part including its trailing delimiter ("N:\Music\a.mp3" ->
// "N:\Music\"); empty when the path has no delimiter.
std::u16string ExtractFileDir(std::u16string_view path);
// The extension of the file-name part from its last '.', the dot included
// ("a.tar.GZ" -> ".GZ"); empty when the file-name part has no dot.
std::u16string ExtractFileExt(std::u16string_view path);
// The path with a '/' added when it does not end in a delimiter (an empty
// path stays empty).
std::u16string IncludeTrailingDelimiter(std::u16string_view path);

}  // namespace ordana
