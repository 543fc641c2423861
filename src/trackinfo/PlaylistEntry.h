#pragma once
// The per-track record: one audio file's descriptive tags and the items the
// playout program Velmora keeps for a track.
#include <cstdint>
#include <string>

namespace ordana {

// Which kind of tag an entry was filled from; stored in one byte.
enum class TTagType : uint8_t {
  ttTag = 0,    // the format's own tag, or none (every file that is not MP3 or TTA)
  ttID3v1 = 1,  // the descriptive fields came from an ID3v1 tag
  ttID3v2 = 2,  // from an ID3v2 tag, or an MP3/TTA file that carries neither tag
};

// A plain value record; copying copies every field, strings included.
struct TPlaylistEntry {
  bool hastag = false;
  TTagType tagtype = TTagType::ttTag;
  std::u16string title;
  std::u16string artist;
  std::u16string album;
  std::u16string year;
  std::u16string comment;
  std::u16string genre;
  std::u16string filename;
  int64_t time = 0;     // not used by this system
  int64_t size = 0;     // not used by this system
  int32_t bitrate = 0;  // not used by this system
  std::u16string BPM;
  int32_t Rating = 0;
  int32_t Gender = 0;
  std::u16string DateAdded;  // not used by this system
  std::u16string DateLastPlayed;
  int32_t PlayCount = 0;
  int32_t Intro = -1;
  int32_t Outro = -1;
  int32_t CueIn = -1;
  int32_t CueOut = -1;
  int32_t FadeIn = -1;
  int32_t FadeOut = -1;
  int32_t MixPoint = -1;
  std::u16string Language;
  int32_t TrackLen = 0;
  std::u16string Identifier;

  bool operator==(const TPlaylistEntry&) const = default;
};

// The reset value: strings empty, hastag false, ttTag, numbers 0 except the
// seven cue and fade points, which are -1. (TrackLen is 0 here.)
inline const TPlaylistEntry EmptyPlaylistEntry{};

}  // namespace ordana
