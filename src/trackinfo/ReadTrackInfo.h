#pragma once
// ReadTrackInfo: fills a TPlaylistEntry for one audio file from its tags,
// through the shared reader of the file's format (see TrackReaders.h).
#include <array>
#include <cstdint>
#include <string>

#include "trackinfo/PlaylistEntry.h"

namespace ordana {

class InputFile;

// Options of ReadTrackInfo, a bit set.
inline constexpr int roPlayoutItems = 1;      // also read the playout program's APE items
inline constexpr int roPlayoutItemsOnly = 2;  // skip the format's tags; read the playout items
inline constexpr int roKeepEntry = 4;         // do not reset the entry first

// Size of the summary buffer: at most 199 bytes of ANSI text and a zero byte.
inline constexpr int kInfoTextSize = 200;

// Returns true when the format's tags were found and copied into Entry.
// InfoText, when given, points to kInfoTextSize bytes for the stream summary
// (ANSI text, zero-terminated; empty when the branch taken makes none).
// Not reentrant. An exception of a format reader (the Ogg reader's open
// error) passes out; the entry then holds what was assigned before it.
bool ReadTrackInfo(const std::u16string& FileName, TPlaylistEntry& Entry, char* InfoText,
                   int Options);
// The same for a file the caller has opened: File is FileName opened for
// reading, or not open when it could not be (its readers then try to open it
// themselves, as they do in the call above). FileName still picks the
// reader; the WMA reader opens the file by its name. The caller that also
// wants the length passes the same file to GetTrackLengthOf.
bool ReadTrackInfoOf(const InputFile& File, const std::u16string& FileName, TPlaylistEntry& Entry,
                     char* InfoText, int Options);

// True when the file-name part of FileName (after the last "\", "/" or drive
// ":") begins with "line.in" in any letter case: the station's line input.
bool IsLineInEntry(const std::u16string& FileName);

// The last 128 bytes of a file.
using TID3v1Block = std::array<uint8_t, 128>;

// Fills Block with zero bytes, then with the file's last 128 bytes when the
// file exists and holds that many. True exactly when Block begins with "TAG".
// Never throws.
bool ReadID3v1Block(const std::u16string& FileName, TID3v1Block& Block);

// Copies the block's title, artist, album, year and comment into Entry, each
// field's bytes whole (padding kept) from the ANSI code page; the genre name
// when the genre byte is below 148 (else genre is left as it was).
void FillFromID3v1Block(const TID3v1Block& Block, TPlaylistEntry& Entry);

// Writes Summary into InfoText as ANSI text: at most kInfoTextSize - 1 bytes
// and a zero byte.
void WriteInfoText(const std::u16string& Summary, char* InfoText);

}  // namespace ordana
