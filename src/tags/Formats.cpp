#include "tags/Formats.h"

#include <algorithm>
#include <array>

namespace ordana {

namespace {

constexpr std::string_view kID3v2Writes =
    "an ID3v2.4 tag (the year as TDRC) and, in the same save, an existing ID3v1 tag (a file with only "
    "ID3v1 gets an ID3v2 tag filled from it)";
constexpr std::string_view kID3v2Keeps =
    "every other ID3v2 frame with its flags (pictures, lyrics, other comments, user texts, ratings; "
    "unsynchronisation undone, an extended header left out), \"7/12\" while the track stays 7, the "
    "audio, an APE tag";
constexpr std::string_view kID3v2Cannot =
    "ID3v1: over 30 bytes a field (4 for the year), characters outside the ANSI code page, genres "
    "outside its list (saved with a warning, exit status 3); ID3v2 frames a 2.4 tag has no form for "
    "(refused)";
constexpr std::string_view kComments = "the Vorbis comments";
constexpr std::string_view kFLACKeeps =
    "every other comment, pictures and all other metadata blocks, the audio frames, an ID3v2 tag in "
    "front";
constexpr std::string_view kOggKeeps =
    "every other comment in its order, the vendor, the audio (later pages are renumbered when the "
    "comment header changes its page count)";
constexpr std::string_view kAPEWrites = "the APE tag";
constexpr std::string_view kAPEKeeps = "its other items, an ID3v1 tag after it";
constexpr std::string_view kWMAWrites = "the ASF content descriptions";
constexpr std::string_view kWMAKeeps = "every other header object and descriptor";
constexpr std::string_view kWMACannot = "texts over 32,766 characters (refused)";
constexpr std::string_view kNothing = "nothing";

using R = TagReaderKind;
using W = TagWriterKind;

// The order is the one of the fuzz harness's file names (its corpus relies on it).
constexpr std::array<AudioFormat, 14> kFormats{{
    {u".mp3", "MP3", R::ID3v2ThenID3v1, W::ID3v2, tfAllFields, true, kID3v2Writes, kID3v2Keeps, kID3v2Cannot, true},
    {u".tta", "TTA", R::ID3v2ThenID3v1, W::ID3v2, tfAllFields, true, kID3v2Writes, kID3v2Keeps, kID3v2Cannot, true},
    {u".wav", "WAV", R::WAV, W::None, 0, true, kNothing, "", "", false},
    {u".wma", "WMA", R::WMA, W::WMA, tfAllFields, true, kWMAWrites, kWMAKeeps, kWMACannot, false},
    {u".ogg", "Ogg Vorbis", R::OggVorbis, W::OggVorbis, tfAllFields, true, kComments, kOggKeeps, "", false},
    {u".flac", "FLAC", R::FLAC, W::FLAC, tfAllFields, true, kComments, kFLACKeeps, "", false},
    {u".ape", "APE", R::APE, W::APE, tfAllFields, true, kAPEWrites, kAPEKeeps, "", true},
    {u".mpc", "MPC", R::APE, W::APE, tfAllFields, true, kAPEWrites, kAPEKeeps, "", true},
    {u".mp+", "MPC", R::APE, W::APE, tfAllFields, true, kAPEWrites, kAPEKeeps, "", true},
    {u".mpp", "MPC", R::APE, W::APE, tfAllFields, true, kAPEWrites, kAPEKeeps, "", true},
    {u".m4a", "MP4", R::MP4, W::None, 0, true, kNothing, "", "", false},
    {u".m4b", "MP4", R::MP4, W::None, 0, true, kNothing, "", "", false},
    {u".m4p", "MP4", R::MP4, W::None, 0, true, kNothing, "", "", false},
    {u".mp4", "MP4", R::MP4, W::None, 0, true, kNothing, "", "", false},
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

std::vector<SaveGroup> SaveGroups() {
  std::vector<SaveGroup> groups;
  for (const AudioFormat& f : kFormats) {
    const std::string ext = Ascii(f.Extension);
    auto same = [&](const SaveGroup& g) {
      return g.Format->SaveWrites == f.SaveWrites && g.Format->SaveKeeps == f.SaveKeeps &&
             g.Format->SaveCannotWrite == f.SaveCannotWrite;
    };
    auto it = std::find_if(groups.begin(), groups.end(), same);
    if (it == groups.end()) {
      groups.push_back({std::string(f.Name), ext, &f});
      continue;
    }
    if (it->Names != f.Name && !it->Names.ends_with(", " + std::string(f.Name)))
      it->Names += ", " + std::string(f.Name);
    it->Extensions += " " + ext;
  }
  return groups;
}

std::string SaveBehaviourMarkdown() {
  std::string out =
      "| Format | What a save writes | What it keeps | What it cannot write |\n"
      "|---|---|---|---|\n";
  auto cell = [](std::string_view text) { return text.empty() ? std::string(" |") : " " + std::string(text) + " |"; };
  for (const SaveGroup& g : SaveGroups()) {
    const AudioFormat& f = *g.Format;
    const bool writes = f.Writer != TagWriterKind::None;
    out += "| " + g.Names + " |" + cell(f.SaveWrites) + cell(f.SaveKeeps) +
           cell(writes && f.SaveCannotWrite.empty() ? "—" : f.SaveCannotWrite) + "\n";
  }
  return out;
}

std::string AudioFormatsMarkdown() {
  std::string out =
      "| Extension | Format | Tags read | Fields written |\n"
      "|---|---|---|---|\n";
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
           FieldNames(f.WritableFields) + " |\n";
  }
  return out;
}

}  // namespace ordana
