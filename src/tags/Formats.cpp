#include "tags/Formats.h"

#include <array>

namespace ordana {

namespace {

constexpr std::string_view kID3v2Note = "ID3v2 tag; an ID3v1 or APE tag stays (ordana-tags updates an ID3v1 tag too)";
constexpr std::string_view kFLACNote = "Vorbis comments; other metadata blocks stay";
constexpr std::string_view kOggNote = "Vorbis comments; the audio pages stay";
constexpr std::string_view kAPENote = "APE tag; an ID3v1 tag stays last";
constexpr std::string_view kWMANote = "ASF content descriptions; other header objects stay";

using R = TagReaderKind;
using W = TagWriterKind;

// The order is the one of the fuzz harness's file names (its corpus relies on it).
constexpr std::array<AudioFormat, 14> kFormats{{
    {u".mp3", "MP3", R::ID3v2ThenID3v1, W::ID3v2, tfAllFields, true, kID3v2Note, true},
    {u".tta", "TTA", R::ID3v2ThenID3v1, W::ID3v2, tfAllFields, true, kID3v2Note, true},
    {u".wav", "WAV", R::WAV, W::None, 0, true, "read-only (no tags; stream facts only)", false},
    {u".wma", "WMA", R::WMA, W::WMA, tfAllFields, true, kWMANote, false},
    {u".ogg", "Ogg Vorbis", R::OggVorbis, W::OggVorbis, tfAllFields, true, kOggNote, false},
    {u".flac", "FLAC", R::FLAC, W::FLAC, tfAllFields, true, kFLACNote, false},
    {u".ape", "APE", R::APE, W::APE, tfAllFields, true, kAPENote, true},
    {u".mpc", "MPC", R::APE, W::APE, tfAllFields, true, kAPENote, true},
    {u".mp+", "MPC", R::APE, W::APE, tfAllFields, true, kAPENote, true},
    {u".mpp", "MPC", R::APE, W::APE, tfAllFields, true, kAPENote, true},
    {u".m4a", "MP4", R::MP4, W::None, 0, true, "read-only", false},
    {u".m4b", "MP4", R::MP4, W::None, 0, true, "read-only", false},
    {u".m4p", "MP4", R::MP4, W::None, 0, true, "read-only", false},
    {u".mp4", "MP4", R::MP4, W::None, 0, true, "read-only", false},
}};

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

std::string Ascii(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c);
  return out;
}

std::string FieldNames(uint8_t fields) {
  static constexpr std::array<std::string_view, 6> kNames{"title", "artist", "album",
                                                          "year",  "genre",  "comment"};
  std::string out;
  for (size_t i = 0; i < kNames.size(); ++i)
    if (fields & (1u << i)) out += (out.empty() ? "" : ", ") + std::string(kNames[i]);
  return out.empty() ? "—" : out;
}

}  // namespace

std::span<const AudioFormat> AudioFormats() { return kFormats; }

const AudioFormat* FindAudioFormat(std::u16string_view extension) {
  for (const AudioFormat& f : kFormats) {
    if (f.Extension.size() != extension.size()) continue;
    bool same = true;
    for (size_t i = 0; i < extension.size() && same; ++i) same = Lower(extension[i]) == f.Extension[i];
    if (same) return &f;
  }
  return nullptr;
}

std::string_view SavedTagName(TagWriterKind writer) {
  switch (writer) {
    case W::ID3v2: return "the ID3v2 tag";
    case W::FLAC: return "the FLAC comments";
    case W::OggVorbis: return "the Vorbis comments";
    case W::APE: return "the APE tag";
    case W::WMA: return "the WMA descriptions";
    case W::None: break;
  }
  return "the tags";
}

std::string WritableFormatNames() {
  std::string out;
  std::string_view last;
  for (const AudioFormat& f : kFormats) {
    if (f.Writer == TagWriterKind::None || f.Name == last) continue;
    out += (out.empty() ? "" : ", ") + std::string(f.Name);
    last = f.Name;
  }
  return out;
}

std::string AudioFormatsMarkdown() {
  std::string out =
      "| Extension | Format | Tags read | Save writes | Fields written |\n"
      "|---|---|---|---|---|\n";
  for (const AudioFormat& f : kFormats) {
    std::string read;
    switch (f.Reader) {
      case R::ID3v2ThenID3v1: read = "ID3v2, else ID3v1"; break;
      case R::WAV: read = "none"; break;
      case R::WMA: read = "ASF descriptions"; break;
      case R::OggVorbis:
      case R::FLAC: read = "Vorbis comments"; break;
      case R::APE: read = "APE"; break;
      case R::MP4: read = "MP4 item list"; break;
    }
    if (f.MayEndWithAPE && f.Reader != R::APE) read += " (+ APE shown)";
    out += "| `" + Ascii(f.Extension) + "` | " + std::string(f.Name) + " | " + read + " | " +
           std::string(f.SaveNote) + " | " + FieldNames(f.WritableFields) + " |\n";
  }
  return out;
}

}  // namespace ordana
