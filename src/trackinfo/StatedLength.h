#pragma once
// Exact track lengths from what a file states in its own headers, for the
// formats that state them sample-exactly: FLAC (STREAMINFO's total samples),
// Ogg Vorbis (the granule position of the last page), WAV (the data chunk's
// whole sample frames) and MPEG-4 audio (the audio track's duration after its
// edit list). Each parser reads a few hundred bytes through a source (a file,
// or memory in tests and fuzzers) and decodes nothing.
//
// A parser answers kSeconds when the file states its length in a form it
// fully understands, kNotStated when the file should go to the media probe
// instead (another layout, a codec without exact lengths, anything unusual),
// and kNoLength when the file cannot have the length it claims (an MPEG-4
// sample table that asks for more bytes than the file holds).
#include <string>
#include <string_view>

#include "platform/FileIO.h"
#include "trackinfo/LengthBytes.h"

namespace ordana {

struct StatedLength {
  enum class Kind { kNotStated, kSeconds, kNoLength };
  Kind kind = Kind::kNotStated;
  double seconds = 0;

  static StatedLength NotStated() { return {}; }
  static StatedLength NoLength() { return {Kind::kNoLength, 0}; }
  // count / rate seconds, the quotient rounded once (exact operands below
  // 2^53); kNotStated unless both are positive.
  static StatedLength Samples(int64_t count, int64_t rate);
};

StatedLength FlacStatedLength(const length::Source& file);
StatedLength OggVorbisStatedLength(const length::Source& file);
StatedLength WavStatedLength(const length::Source& file);
StatedLength Mp4AudioStatedLength(const length::Source& file);

// The parser the file's extension names (".flac", ".ogg", ".wav", ".m4a",
// ".m4b", ".m4p", in any letter case), over the open file (`name` gives the
// extension); kNotStated for other extensions.
StatedLength StatedAudioLength(const InputFile& file, std::u16string_view name);
// The same for a path; kNotStated also for addresses and files that cannot
// be opened.
StatedLength StatedAudioLength(const std::u16string& path);
// True when the extension of `name` names one of these parsers.
bool HasStatedLengthParser(std::u16string_view name);

// True for an MPEG-4 file (of any name) with a sample table of fixed-size
// samples that asks for more bytes than the file holds: an index of millions
// of samples that are not there. Such a file has no length; no demuxer need
// build that index.
bool Mp4ClaimsMoreThanItHolds(const length::Source& file);
bool Mp4ClaimsMoreThanItHolds(const InputFile& file);

namespace length {
// The bytes of leading ID3v2 tags (up to four in a row; a tag claiming more
// than the file holds does not count).
int64_t LeadingId3v2Size(Window& w);
}  // namespace length

}  // namespace ordana
