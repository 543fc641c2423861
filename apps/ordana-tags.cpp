// ordana-tags: look at and mend the tags that feed the report.
//
//   ordana-tags show [--json] FILE...
//   ordana-tags set [--title T] [--artist A] [--album X] [--year Y] [--genre G] [--comment C] FILE...
//   ordana-tags remove --id3v1|--id3v2|--ape FILE...
//
// Every read goes through the same readers as the report; every write goes
// through the format's writer and the save layer, which either completes or
// leaves the file as it was, and says why when it cannot save.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Arguments.h"
#include "platform/Console.h"
#include "platform/FileIO.h"
#include "platform/FileNames.h"
#include "platform/Paths.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "report/HtmlReport.h"
#include "tags/APETag.h"
#include "tags/FLACfile.h"
#include "tags/Formats.h"
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"
#include "tags/OggVorbis.h"
#include "tags/WAVfile.h"
#include "tags/WMAfile.h"
#include "tags/mp4tag.h"
#include "trackinfo/TrackLength.h"

using namespace ordana;

namespace {

const char kUsage[] =
    "usage: ordana-tags show [--json] [--] FILE...\n"
    "       ordana-tags set [--title T] [--artist A] [--album X] [--year Y] [--genre G]\n"
    "                       [--comment C] [--] FILE...\n"
    "       ordana-tags remove --id3v1|--id3v2|--ape [--] FILE...\n"
    "       ordana-tags --help\n";

const char kHelpHead[] =
    "Looks at and mends the tags that feed the Ordana report.\n"
    "\n"
    "show    Prints what the readers find in each file: the kinds of tag, title,\n"
    "        artist, album, year, genre, comment, the stream facts and the length.\n"
    "        --json prints one JSON array of objects instead, for scripts.\n"
    "set     Writes the given fields through the format's own writer; fields not\n"
    "        given keep their values; an empty value (--title '') clears a field.\n"
    "remove  Removes one kind of tag: --id3v1, --id3v2 or --ape.\n"
    "\n"
    "Option values are taken as they are, also when they begin with '-'\n"
    "(--title -h sets the title \"-h\"); \"--\" ends the options, so that file\n"
    "names beginning with '-' can follow it.\n"
    "\n"
    "What a save writes, keeps and cannot write, per format:\n";

const char kHelpTail[] =
    "\n"
    "Saves never damage a file: each save locks the file, checks that it is\n"
    "still the file it read, and either completes or leaves it unchanged. Links,\n"
    "owner, group, permissions, extended attributes and ACLs stay. A file its\n"
    "owner may not write is refused as read-only.\n"
    "\n"
    "Text is UTF-8 on the command line. ID3v1 fields are stored in the ANSI code\n"
    "page: the system's ANSI code page on Windows, Windows-1251 elsewhere, unless\n"
    "--codepage NAME says otherwise (e.g. windows-1252).\n"
    "File names are taken byte for byte, also when they are not valid UTF-8. In the\n"
    "text output and in messages, control characters of names and tag values are\n"
    "written out (\\t, \\n, \\x1B, \\u009B), never sent to the terminal; --json\n"
    "escapes them the JSON way.\n"
    "Exit status: 0 when every file was handled, 1 when one failed, 2 for bad\n"
    "usage, 3 when a file was saved but a text had to be cut or changed.\n";

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s).bytes(); }
// Text for the terminal: control characters written out, never sent.
std::string P(const std::string& utf8) { return PrintableText(utf8); }
std::string U8Ansi(const AnsiString& s) { return Utf16ToUtf8(AnsiToUtf16(s)).bytes(); }

// What one file shows: the tag kinds found, the descriptive fields and the
// stream facts, each as UTF-8 text, in a fixed order.
struct FileView {
  std::vector<std::string> kinds;
  std::vector<std::pair<std::string, std::string>> fields;  // title, artist, ...
  std::vector<std::pair<std::string, std::string>> stream;  // facts
  std::string length;
};

void Fields(FileView& v, const std::u16string& title, const std::u16string& artist,
            const std::u16string& album, const std::u16string& year, const std::u16string& genre,
            const std::u16string& comment) {
  v.fields = {{"title", U8(Trim(title))},   {"artist", U8(Trim(artist))},
              {"album", U8(Trim(album))},   {"year", U8(Trim(year))},
              {"genre", U8(Trim(genre))},   {"comment", U8(Trim(comment))}};
}

std::string Num(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", d);
  return buf;
}

// Words laid out on lines of at most 78 columns, each line after indent.
std::string Wrap(const std::string& text, size_t indent) {
  std::string out, line;
  size_t from = 0;
  while (from < text.size()) {
    size_t to = text.find(' ', from);
    if (to == std::string::npos) to = text.size();
    const std::string word = text.substr(from, to - from);
    if (!line.empty() && indent + line.size() + 1 + word.size() > 78) {
      out += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    from = to + 1;
  }
  if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
  return out;
}

// The help's list of formats: what a save writes, keeps and cannot write,
// for each group of formats whose saves behave alike, with their extensions.
std::string FormatsHelp() {
  std::string out;
  for (const SaveGroup& g : SaveGroups()) {
    const AudioFormat& f = *g.Format;
    std::string text = "Writes " + std::string(f.SaveWrites) + ".";
    if (!f.SaveKeeps.empty()) text += " Keeps " + std::string(f.SaveKeeps) + ".";
    if (!f.SaveCannotWrite.empty()) text += " Cannot write: " + std::string(f.SaveCannotWrite) + ".";
    out += "  " + g.Names + " (" + g.Extensions + ")\n" + Wrap(text, 4);
  }
  return out;
}

std::u16string Lext(const std::u16string& file) { return LowerCase(ExtractFileExt(file)); }

FileView Show(const std::u16string& file) {
  FileView v;
  const std::u16string ext = Lext(file);
  const AudioFormat* format = FindAudioFormat(ext);
  // An unknown extension takes the APE case, which reads nothing here.
  switch (format ? format->Reader : TagReaderKind::APE) {
    case TagReaderKind::ID3v2ThenID3v1: {
      TID3v2 v2;
      TID3v1 v1;
      v2.ReadFromFile(file);
      v1.ReadFromFile(file);
      if (v2.Exists()) {
        v.kinds.push_back("ID3v2." + std::to_string(v2.VersionID()));
        Fields(v, v2.Title(), v2.Artist(), v2.Album(), v2.Year(), v2.Genre(), v2.Comment());
      }
      if (v1.Exists()) {
        v.kinds.push_back(v1.VersionID() == 2 ? "ID3v1.1" : "ID3v1.0");
        if (!v2.Exists())
          Fields(v, AnsiToUtf16(v1.Title()), AnsiToUtf16(v1.Artist()), AnsiToUtf16(v1.Album()),
                 AnsiToUtf16(v1.Year()), AnsiToUtf16(v1.Genre()), AnsiToUtf16(v1.Comment()));
      }
      TMPEGaudio mpeg;
      mpeg.ReadFromFile(file);
      if (mpeg.Frame().Found) {
        v.stream = {{"format", U8Ansi(mpeg.Version()) + " " + U8Ansi(mpeg.Layer())},
                    {"channels", U8Ansi(mpeg.ChannelMode())},
                    {"bitrate_kbps", std::to_string(mpeg.BitRate())},
                    {"samplerate_hz", std::to_string(mpeg.SampleRate())},
                    {"vbr", mpeg.VBR().Found ? "yes" : "no"},
                    {"encoder", U8Ansi(mpeg.Encoder())}};
      }
      break;
      }
    case TagReaderKind::FLAC: {
      TFLACfile f;
      f.ReadFromFile(file);
      if (f.Valid()) {
        v.kinds.push_back("Vorbis comment (FLAC)");
        Fields(v, f.Title(), f.Artist(), f.Album(), f.Year(), f.Genre(), f.Comment());
        v.stream = {{"format", "FLAC"},
                    {"channels", std::to_string(f.Channels())},
                    {"samplerate_hz", std::to_string(f.SampleRate())},
                    {"bits_per_sample", std::to_string(f.BitsPerSample())},
                    {"duration_s", Num(f.Duration())}};
      }
      break;
      }
    case TagReaderKind::OggVorbis: {
      TOggVorbis o;
      try {
        o.ReadFromFile(file);
      } catch (const EOrdanaError&) {
      }
      if (o.Valid()) {
        v.kinds.push_back("Vorbis comment (Ogg)");
        Fields(v, o.Title(), o.Artist(), o.Album(), o.Date(), o.Genre(), o.Comment());
        v.stream = {{"format", "Ogg Vorbis"},
                    {"channels", U8(o.ChannelMode())},
                    {"bitrate_kbps", std::to_string(o.BitRate())},
                    {"samplerate_hz", std::to_string(o.SampleRate())},
                    {"duration_s", Num(o.Duration())}};
      }
      break;
      }
    case TagReaderKind::WAV: {
      TWAVfile w;
      w.ReadFromFile(file);
      if (w.Valid())
        v.stream = {{"format", U8(w.Format())},
                    {"channels", U8(w.ChannelMode())},
                    {"samplerate_hz", std::to_string(w.SampleRate())},
                    {"bits_per_sample", std::to_string(w.BitsPerSample())}};
      break;
      }
    case TagReaderKind::WMA: {
      TWMA w;
      if (w.LoadFromFile(file) && w.IsValidSize()) {
        v.kinds.push_back("ASF");
        Fields(v, w.Title(), w.Artist(), w.Album(), w.Year(), w.Genre(), w.Comment());
        v.stream = {{"format", "WMA"},
                    {"channels", U8Ansi(w.ChannelMode())},
                    {"bitrate_kbps", std::to_string(w.BitRate())},
                    {"samplerate_hz", std::to_string(w.SampleRate())},
                    {"duration_s", Num(w.Duration())}};
      }
      break;
      }
    case TagReaderKind::MP4: {
      TMp4Tag m;
      if (m.ReadFromFile(file) && (!m.Title().empty() || !m.Artist().empty() || !m.Album().empty() ||
                                   !m.Genre().empty() || !m.Year().empty() || !m.Comment().empty())) {
        v.kinds.push_back("MP4 item list");
        Fields(v, m.Title(), m.Artist(), m.Album(), m.Year(), m.Genre(), m.Comment());
      }
      break;
      }
    case TagReaderKind::APE:
      break;  // read below, with the APE tags of other formats
  }
  // An APE tag may stand at the end of these files.
  if (format && format->MayEndWithAPE) {
    TAPETag a;
    a.ReadFromFile(file);
    if (a.Exists()) {
      v.kinds.push_back("APEv" + std::to_string(a.Version() / 1000));
      if (v.fields.empty()) {
        auto f = [&](const char* n) { return Utf8ToUtf16(a.SeekField(Utf8String(n))); };
        Fields(v, f("Title"), f("Artist"), f("Album"), f("Year"), f("Genre"), f("Comment"));
      }
    }
  }
  v.length = U8(FormatPlayTime(GetTrackLength(file)));
  return v;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& kv) {
  std::string out = "{";
  for (size_t i = 0; i < kv.size(); ++i)
    out += (i ? ", " : "") + JsonString(kv[i].first) + ": " + JsonString(kv[i].second);
  return out + "}";
}

int CmdShow(const std::vector<std::string>& args) {
  bool json = false;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (const std::string& a : args) {
    if (optionsEnd) files.push_back(a);
    else if (a == "--") optionsEnd = true;
    else if (a == "--json") json = true;
    else if (a.size() > 1 && a[0] == '-') {
      std::cerr << "ordana-tags show: unknown option " << a << "\n" << kUsage;
      return 2;
    } else files.push_back(a);
  }
  if (files.empty()) {
    std::cerr << "ordana-tags show: no file given\n" << kUsage;
    return 2;
  }
  int status = 0;
  if (json) std::cout << "[";
  for (size_t i = 0; i < files.size(); ++i) {
    const std::u16string file = NameFromSystemBytes(files[i]);
    const bool exists = FileExists(file);
    if (!exists) {
      std::cerr << "ordana-tags: " << P(files[i]) << ": no such file\n";
      status = 1;
    }
    FileView v = exists ? Show(file) : FileView{};
    if (json) {
      std::string kinds = "[";
      for (size_t k = 0; k < v.kinds.size(); ++k) kinds += (k ? ", " : "") + JsonString(v.kinds[k]);
      kinds += "]";
      std::cout << (i ? ",\n " : "") << "{\"file\": " << JsonString(U8(file))
                << ", \"exists\": " << (exists ? "true" : "false") << ", \"tags\": " << kinds
                << ", \"fields\": " << JsonObject(v.fields) << ", \"stream\": " << JsonObject(v.stream)
                << ", \"length\": " << JsonString(exists ? v.length : "") << "}";
      continue;
    }
    if (!exists) continue;
    std::cout << P(files[i]) << "\n";
    std::string kinds;
    for (const std::string& k : v.kinds) kinds += (kinds.empty() ? "" : ", ") + k;
    std::cout << "  tags:     " << (kinds.empty() ? "(none)" : kinds) << "\n";
    auto row = [](const std::string& label, const std::string& value) {
      std::cout << "  " << label << std::string(label.size() < 9 ? 9 - label.size() : 0, ' ') << " "
                << value << "\n";
    };
    for (const auto& [k, val] : v.fields) row(k + ":", P(val));
    for (const auto& [k, val] : v.stream)
      row(k.substr(0, k.find('_')) + ":",
          P(val) + (k.find('_') != std::string::npos ? " " + k.substr(k.find('_') + 1) : ""));
    std::cout << "  length:   " << v.length << "\n";
    std::cout.flush();
  }
  if (json) std::cout << "]\n";
  return status;
}

struct Changes {
  std::optional<std::u16string> title, artist, album, year, genre, comment;
  bool Any() const { return title || artist || album || year || genre || comment; }
};

// The ID3v1 genre index for a name (case-insensitive), 255 when none.
uint8_t GenreIndex(const std::u16string& name) {
  const std::u16string want = LowerCase(Trim(name));
  for (size_t i = 0; i < GenreNames.size(); ++i)
    if (LowerCase(AnsiToUtf16(AnsiView(GenreNames[i]))) == want) return static_cast<uint8_t>(i);
  return 255;
}

// The cause of the last failed save, for messages.
std::string Cause(const std::string& what) {
  const std::string& reason = LastSaveStatus().reason;
  return std::string(what) + (reason.empty() ? "" : ": " + reason) + " (file unchanged)";
}

// An ID3v1 field: the text in the ANSI code page cut to width bytes; a
// warning when that loses anything.
AnsiString Id3v1Field(const std::u16string& text, size_t width, const char* name,
                      std::vector<std::string>& warnings) {
  AnsiString a(TrimRightBytes(Utf16ToAnsi(text).view()));
  if (AnsiToUtf16(a) != TrimRight(text))
    warnings.push_back(std::string("the ID3v1 ") + name + " cannot hold every character of it (code page " +
                       AnsiCodePage() + ")");
  if (a.size() > width) {
    warnings.push_back(std::string("the ID3v1 ") + name + " holds only " + std::to_string(width) +
                       " bytes of it; the ID3v2 tag has it whole");
    a = AnsiString(a.view().substr(0, width));
  }
  return a;
}

// Writes the changes into one file; returns an error text, empty on success.
// Texts a format had to cut are told in warnings.
std::string SetTags(const std::u16string& file, const Changes& c, std::vector<std::string>& warnings) {
  const AudioFormat* format = FindAudioFormat(Lext(file));
  const TagWriterKind writer = format ? format->Writer : TagWriterKind::None;
  const std::string unsaved = std::string(SavedTagName(writer)) + " could not be saved";
  if (writer == TagWriterKind::ID3v2) {
    TID3v2 v2;
    if (!v2.ReadFromFile(file)) return "cannot read the file";
    TID3v1 v1;
    const bool hasV1 = v1.ReadFromFile(file) && v1.Exists();
    // A new ID3v2 tag wins over the ID3v1 tag in every reader: it starts
    // with what the ID3v1 tag holds, so fields not given keep their values.
    if (!v2.Exists() && hasV1) {
      v2.SetTitle(AnsiToUtf16(v1.Title()));
      v2.SetArtist(AnsiToUtf16(v1.Artist()));
      v2.SetAlbum(AnsiToUtf16(v1.Album()));
      v2.SetYear(AnsiToUtf16(v1.Year()));
      v2.SetGenre(AnsiToUtf16(v1.Genre()));
      v2.SetComment(AnsiToUtf16(v1.Comment()));
      v2.SetTrack(v1.Track());
    }
    if (c.title) v2.SetTitle(*c.title);
    if (c.artist) v2.SetArtist(*c.artist);
    if (c.album) v2.SetAlbum(*c.album);
    if (c.year) v2.SetYear(*c.year);
    if (c.genre) v2.SetGenre(*c.genre);
    if (c.comment) v2.SetComment(*c.comment);
    std::string block;
    if (hasV1) {
      const size_t commentWidth = v1.Track() != 0 ? 28 : 30;
      if (c.title) v1.SetTitle(Id3v1Field(*c.title, 30, "title", warnings));
      if (c.artist) v1.SetArtist(Id3v1Field(*c.artist, 30, "artist", warnings));
      if (c.album) v1.SetAlbum(Id3v1Field(*c.album, 30, "album", warnings));
      if (c.year) v1.SetYear(Id3v1Field(*c.year, 4, "year", warnings));
      if (c.genre) {
        v1.SetGenreID(GenreIndex(*c.genre));
        if (v1.GenreID() == 255 && !Trim(*c.genre).empty())
          warnings.push_back("the ID3v1 genre list has no \"" + U8(Trim(*c.genre)) +
                             "\"; the ID3v1 tag says none, the ID3v2 tag has it");
      }
      if (c.comment) v1.SetComment(Id3v1Field(*c.comment, commentWidth, "comment", warnings));
      block = v1.Block();
    }
    // Both tags in one save: both are written, or neither.
    if (!v2.SaveToFile(file, block)) {
      warnings.clear();
      return Cause(hasV1 ? "the ID3v2 and ID3v1 tags could not be saved" : unsaved);
    }
    return {};
  }
  if (writer == TagWriterKind::FLAC) {
    TFLACfile f;
    if (!f.ReadFromFile(file) || !f.Valid()) return "not a FLAC file this tool can read";
    if (c.title) f.SetTitle(*c.title);
    if (c.artist) f.SetArtist(*c.artist);
    if (c.album) f.SetAlbum(*c.album);
    if (c.year) f.SetYear(*c.year);
    if (c.genre) f.SetGenre(*c.genre);
    if (c.comment) f.SetComment(*c.comment);
    return f.SaveToFile(file) ? "" : Cause(unsaved);
  }
  if (writer == TagWriterKind::OggVorbis) {
    TOggVorbis o;
    try {
      if (!o.ReadFromFile(file)) return "not an Ogg Vorbis file";
    } catch (const EOrdanaError& e) {
      return e.Message();
    }
    if (c.title) o.SetTitle(*c.title);
    if (c.artist) o.SetArtist(*c.artist);
    if (c.album) o.SetAlbum(*c.album);
    if (c.year) o.SetDate(*c.year);
    if (c.genre) o.SetGenre(*c.genre);
    if (c.comment) o.SetComment(*c.comment);
    return o.SaveTag(file) ? "" : Cause(unsaved);
  }
  if (writer == TagWriterKind::APE) {
    TAPETag a;
    if (!a.ReadFromFile(file)) return "cannot read the file";
    auto put = [&](const char16_t* name, const std::optional<std::u16string>& v) {
      if (!v) return;
      if (v->empty()) a.DeleteField(name);
      else a.EditField(std::u16string(name), *v);
    };
    put(u"Title", c.title);
    put(u"Artist", c.artist);
    put(u"Album", c.album);
    put(u"Year", c.year);
    put(u"Genre", c.genre);
    put(u"Comment", c.comment);
    return a.WriteTagInFile(file) ? "" : Cause(unsaved);
  }
  if (writer == TagWriterKind::WMA) {
    TWMA w;
    if (!w.LoadFromFile(file)) return "cannot read the file";
    if (c.title) w.SetTitle(*c.title);
    if (c.artist) w.SetArtist(*c.artist);
    if (c.album) w.SetAlbum(*c.album);
    if (c.year) w.SetYear(*c.year);
    if (c.genre) w.SetGenre(*c.genre);
    if (c.comment) w.SetComment(*c.comment);
    return w.SaveToFile(file) ? "" : Cause(unsaved);
  }
  return "writing tags of this kind of file is not supported (" + WritableFormatNames() + " are)";
}

int CmdSet(const std::vector<std::string>& args) {
  Changes c;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnd) {
      files.push_back(a);
      continue;
    }
    std::optional<std::u16string>* slot = nullptr;
    if (a == "--title") slot = &c.title;
    else if (a == "--artist") slot = &c.artist;
    else if (a == "--album") slot = &c.album;
    else if (a == "--year") slot = &c.year;
    else if (a == "--genre") slot = &c.genre;
    else if (a == "--comment") slot = &c.comment;
    if (slot) {
      if (i + 1 >= args.size()) {
        std::cerr << "ordana-tags set: " << a << " needs a value\n";
        return 2;
      }
      *slot = Utf8ToUtf16(Utf8View(args[++i]));  // taken as it is, a leading '-' too
    } else if (a == "--") {
      optionsEnd = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::cerr << "ordana-tags set: unknown option " << P(a) << "\n" << kUsage;
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (!c.Any() || files.empty()) {
    std::cerr << "ordana-tags set: give at least one field and one file\n" << kUsage;
    return 2;
  }
  int status = 0;
  for (const std::string& f : files) {
    const std::u16string file = NameFromSystemBytes(f);
    std::vector<std::string> warnings;
    std::string err = FileExists(file) ? SetTags(file, c, warnings) : "no such file";
    if (!err.empty()) {
      std::cerr << "ordana-tags: " << P(f) << ": " << P(err) << "\n";
      status = 1;
      continue;
    }
    std::cout << P(f) << ": saved\n";
    for (const std::string& w : warnings) std::cerr << "ordana-tags: " << P(f) << ": warning: " << P(w) << "\n";
    if (!warnings.empty() && status == 0) status = 3;
  }
  return status;
}

int CmdRemove(const std::vector<std::string>& args) {
  std::string kind;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (const std::string& a : args) {
    if (optionsEnd) {
      files.push_back(a);
    } else if (a == "--") {
      optionsEnd = true;
    } else if (a == "--id3v1" || a == "--id3v2" || a == "--ape") {
      if (!kind.empty() && kind != a) {
        std::cerr << "ordana-tags remove: give one of --id3v1, --id3v2, --ape\n";
        return 2;
      }
      kind = a;
    } else if (a.size() > 1 && a[0] == '-') {
      std::cerr << "ordana-tags remove: unknown option " << P(a) << "\n" << kUsage;
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (kind.empty() || files.empty()) {
    std::cerr << "ordana-tags remove: give --id3v1, --id3v2 or --ape and at least one file\n" << kUsage;
    return 2;
  }
  int status = 0;
  for (const std::string& f : files) {
    const std::u16string file = NameFromSystemBytes(f);
    std::string err;
    if (!FileExists(file)) {
      err = "no such file";
    } else if (kind == "--id3v1") {
      TID3v1 t;
      if (!t.ReadFromFile(file)) err = "cannot read the file (shorter than 128 bytes?)";
      else if (!t.Exists()) err = "no ID3v1 tag";
      else if (!t.RemoveFromFile(file)) err = Cause("the ID3v1 tag could not be removed");
    } else if (kind == "--id3v2") {
      TID3v2 t;
      if (!t.ReadFromFile(file)) err = "cannot read the file";
      else if (!t.Exists()) err = "no ID3v2 tag";
      else if (!t.RemoveFromFile(file)) err = Cause("the ID3v2 tag could not be removed");
    } else {
      TAPETag t;
      try {
        if (!t.ReadFromFile(file)) err = "cannot read the file";
        else if (!t.Exists()) err = "no APE tag";
        else if (!t.RemoveTagFromFile(file)) err = Cause("the APE tag could not be removed");
      } catch (const EOrdanaError&) {
        err = Cause("the APE tag could not be removed");
      }
    }
    if (!err.empty()) {
      std::cerr << "ordana-tags: " << P(f) << ": " << P(err) << "\n";
      status = 1;
    } else {
      std::cout << P(f) << ": removed\n";
    }
  }
  return status;
}

}  // namespace

// Options that take the argument after them as their value.
bool TakesValue(const std::string& a) {
  return a == "--title" || a == "--artist" || a == "--album" || a == "--year" || a == "--genre" ||
         a == "--comment" || a == "--codepage";
}

int Run(std::vector<std::string> args) {
  // --codepage NAME and --help may stand anywhere among the options: never
  // as another option's value, never after "--".
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") break;
    if (args[i] == "--help" || args[i] == "-h") {
      std::cout << kUsage << "\n" << kHelpHead << FormatsHelp() << kHelpTail;
      return 0;
    }
    if (args[i] != "--codepage") {
      if (TakesValue(args[i])) ++i;
      continue;
    }
    if (i + 1 >= args.size()) {
      std::cerr << "ordana-tags: --codepage needs a name\n";
      return 2;
    }
    try {
      SetAnsiCodePage(args[i + 1]);
    } catch (const std::exception& e) {
      std::cerr << "ordana-tags: " << P(e.what()) << "\n";
      return 2;
    }
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    --i;
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "show") return CmdShow(args);
  if (cmd == "set") return CmdSet(args);
  if (cmd == "remove") return CmdRemove(args);
  std::cerr << "ordana-tags: unknown command " << P(cmd) << "\n" << kUsage;
  return 2;
}

ORDANA_COMMAND_LINE_MAIN(Run)
