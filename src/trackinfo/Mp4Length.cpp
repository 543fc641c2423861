// MPEG-4 audio (.m4a, .m4b, .m4p): the length of the first audio track, as
// its media header, its time-to-sample table and its edit list state it
// together. The edit list matters: an AAC track's media header counts the
// encoder's priming samples, which the edit list cuts. The atoms are walked
// by seeking (a cover picture or the media data is never read), only into
// the containers on the way to the track's tables.
//
// The rules are those of the common demuxers: the track's duration is the
// media header's, cut to the sum of the time-to-sample table when that is
// shorter, and to the sum of the edits (in the track's time scale) when that
// is shorter still. Layouts those rules do not settle (fragments, several
// media headers or edit lists, composition offsets, tables that disagree
// about the sample count, unknown codecs) go to the media probe.
#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "trackinfo/StatedLength.h"

namespace ordana {

namespace {

constexpr int kMaxAtoms = 4096;
constexpr uint32_t kMaxTableEntries = 1 << 16;
constexpr int64_t kInt64Max = INT64_MAX;

struct Atom {
  std::string type;
  int64_t payload = 0;  // first byte after the header
  int64_t end = 0;
};

struct Edit {
  int64_t duration = 0;  // in the movie's time scale
  int64_t mediaTime = 0;
};

struct Track {
  bool audio = false;
  bool codecKnown = false;
  int mediaHeaders = 0;
  int64_t duration = 0;
  int64_t timeScale = 0;
  int sttsAtoms = 0;
  uint64_t sttsSamples = 0;
  uint64_t sttsDuration = 0;
  bool haveStsz = false;
  uint32_t sampleSize = 0;
  uint64_t sampleCount = 0;
  uint64_t chunkCount = 0;
  uint32_t stscEntries = 0;
  int elstAtoms = 0;
  std::vector<Edit> edits;
  bool unsettled = false;  // a layout the rules above do not settle
  bool impossible = false; // a sample table larger than the file
};

class Walker {
 public:
  // Atom headers lie apart; reads of 4 KiB serve each group of neighbours.
  explicit Walker(const length::Source& file) : w_(file, 4096) {}
  length::Window& Window() { return w_; }
  int64_t FileSize() const { return w_.Size(); }
  bool Broken() const { return broken_; }

  // The atom at pos inside [.., end); false at the end or when the atom is
  // malformed (then Broken()).
  bool Next(int64_t pos, int64_t end, Atom& a) {
    if (pos >= end) return false;
    if (++atoms_ > kMaxAtoms || end - pos < 8) return Fail();
    length::Reader h = w_.Get(pos, 8);
    uint64_t size = h.U32BE();
    a.type = std::string(h.Chars(4));
    if (!h.Ok()) return Fail();
    int64_t header = 8;
    if (size == 1) {
      length::Reader l = w_.Get(pos + 8, 8);
      size = l.U64BE();
      header = 16;
      if (!l.Ok()) return Fail();
    } else if (size == 0) {
      size = static_cast<uint64_t>(end - pos);  // runs to the end of its parent
    }
    if (size < static_cast<uint64_t>(header) || size > static_cast<uint64_t>(end - pos)) return Fail();
    a.payload = pos + header;
    a.end = pos + static_cast<int64_t>(size);
    return true;
  }

  template <typename F>
  void Children(const Atom& parent, int64_t skip, F&& each) {
    Atom a;
    for (int64_t pos = parent.payload + skip; !broken_ && Next(pos, parent.end, a); pos = a.end) each(a);
  }

  length::Reader Payload(const Atom& a, size_t n) {
    if (a.end - a.payload < static_cast<int64_t>(n)) return length::Reader::Failed();
    return w_.Get(a.payload, n);
  }

 private:
  bool Fail() {
    broken_ = true;
    return false;
  }
  length::Window w_;
  int atoms_ = 0;
  bool broken_ = false;
};

// av_rescale's rounding: a * b / c to the nearest, halves away from zero.
int64_t Rescale(int64_t a, int64_t b, int64_t c) {
  const unsigned __int128 r = (static_cast<unsigned __int128>(a) * static_cast<uint64_t>(b) + static_cast<uint64_t>(c) / 2) /
                              static_cast<uint64_t>(c);
  return r > static_cast<unsigned __int128>(kInt64Max) ? kInt64Max : static_cast<int64_t>(r);
}

// The object type of an esds atom's decoder configuration; -1 when it cannot be read.
int EsdsObjectType(Walker& wk, const Atom& esds) {
  const int64_t len = std::min<int64_t>(esds.end - esds.payload, 256);
  length::Reader r = wk.Payload(esds, static_cast<size_t>(len));
  r.Skip(4);  // version, flags
  auto descriptor = [&r](uint8_t want) {
    if (r.U8() != want) return false;
    for (int i = 0; i < 4; ++i)
      if (!(r.U8() & 0x80)) break;
    return r.Ok();
  };
  if (!descriptor(0x03)) return -1;
  r.Skip(2);  // ES_ID
  const uint8_t flags = r.U8();
  if (flags & 0x80) r.Skip(2);
  if (flags & 0x40) r.Skip(r.U8());
  if (flags & 0x20) r.Skip(2);
  if (!descriptor(0x04)) return -1;
  const uint8_t type = r.U8();
  return r.Ok() ? type : -1;
}

void ReadSampleDescription(Walker& wk, const Atom& stsd, Track& t) {
  length::Reader r = wk.Payload(stsd, 8 + 8 + 8 + 2);
  r.Skip(4);
  if (r.U32BE() == 0) return;
  Atom entry;
  if (!wk.Next(stsd.payload + 8, stsd.end, entry)) return;
  const std::string codec = entry.type;
  r.Skip(8 + 8);  // the entry's header, reserved bytes and data reference
  const uint16_t version = r.U16BE();
  if (!r.Ok()) return;
  if (codec == "alac") {
    t.codecKnown = true;
    return;
  }
  // MPEG-4 audio, plain or protected (.m4p): the codec is the object type
  // of its decoder configuration; AAC when the entry has none.
  if (codec != "mp4a" && codec != "drms") return;
  if (version > 2) return;
  const int64_t fields = 8 + 20 + (version == 1 ? 16 : version == 2 ? 36 : 0);
  Atom box{codec, entry.payload + fields, entry.end};
  int objectType = 0x40;
  bool found = false;
  const auto find = [&](const Atom& a) {
    if (found) return;
    if (a.type == "esds") {
      found = true;
      objectType = EsdsObjectType(wk, a);
    } else if (a.type == "wave") {
      wk.Children(a, 0, [&](const Atom& inner) {
        if (!found && inner.type == "esds") {
          found = true;
          objectType = EsdsObjectType(wk, inner);
        }
      });
    }
  };
  wk.Children(box, 0, find);
  switch (objectType) {
    case 0x40: case 0x66: case 0x67: case 0x68:  // AAC
    case 0x69: case 0x6B:                        // MPEG audio
      t.codecKnown = true;
      break;
    default: break;
  }
}

void ReadTimeToSample(Walker& wk, const Atom& stts, Track& t) {
  if (++t.sttsAtoms > 1) return void(t.unsettled = true);
  length::Reader r = wk.Payload(stts, 8);
  r.Skip(4);
  const uint32_t entries = r.U32BE();
  if (!r.Ok() || entries > kMaxTableEntries || stts.end - stts.payload < 8 + 8 * int64_t{entries})
    return void(t.unsettled = true);
  constexpr uint32_t kMaxDelta = UINT32_MAX - 48000 * 10;  // larger ones are taken for damage and changed
  for (uint32_t done = 0; done < entries;) {
    const uint32_t batch = std::min<uint32_t>(entries - done, 1024);
    length::Reader e = wk.Window().Get(stts.payload + 8 + 8 * int64_t{done}, 8 * size_t{batch});
    for (uint32_t i = 0; i < batch; ++i) {
      const uint64_t count = e.U32BE(), delta = e.U32BE();
      if (delta > kMaxDelta) return void(t.unsettled = true);
      t.sttsSamples += count;
      const uint64_t span = count * delta;  // below 2^64
      if (span > static_cast<uint64_t>(kInt64Max) - t.sttsDuration) return void(t.unsettled = true);
      t.sttsDuration += span;
    }
    if (!e.Ok()) return void(t.unsettled = true);
    done += batch;
  }
}

void ReadEditList(Walker& wk, const Atom& elst, Track& t) {
  if (++t.elstAtoms > 1) return void(t.unsettled = true);
  length::Reader r = wk.Payload(elst, 8);
  const uint8_t version = r.U8();
  r.Skip(3);
  const uint32_t count = r.U32BE();
  const int64_t entrySize = version == 1 ? 20 : 12;
  if (!r.Ok() || version > 1 || count > 1024 || elst.end - elst.payload != 8 + entrySize * count)
    return void(t.unsettled = true);
  length::Reader e = wk.Window().Get(elst.payload + 8, static_cast<size_t>(entrySize * count));
  for (uint32_t i = 0; i < count; ++i) {
    Edit edit;
    if (version == 1) {
      edit.duration = static_cast<int64_t>(e.U64BE());
      edit.mediaTime = static_cast<int64_t>(e.U64BE());
    } else {
      edit.duration = e.U32BE();
      edit.mediaTime = static_cast<int32_t>(e.U32BE());
    }
    e.Skip(4);  // rate
    if (edit.duration < 0 || edit.mediaTime < -1) return void(t.unsettled = true);
    t.edits.push_back(edit);
  }
  if (!e.Ok()) t.unsettled = true;
}

void ReadSampleTable(Walker& wk, const Atom& stbl, Track& t) {
  wk.Children(stbl, 0, [&](const Atom& a) {
    if (a.type == "stsd") {
      ReadSampleDescription(wk, a, t);
    } else if (a.type == "stts") {
      ReadTimeToSample(wk, a, t);
    } else if (a.type == "stsz") {
      length::Reader r = wk.Payload(a, 12);
      r.Skip(4);
      t.sampleSize = r.U32BE();
      t.sampleCount = r.U32BE();
      if (!r.Ok() || t.haveStsz || (t.sampleSize == 0 && a.end - a.payload < 12 + 4 * int64_t(t.sampleCount)))
        t.unsettled = true;
      t.haveStsz = true;
      // Samples of a fixed size must lie in the file: a table of millions
      // of samples in a small file is a lie (and would cost memory to index).
      if (t.sampleSize > 0 && t.sampleCount * t.sampleSize > static_cast<uint64_t>(wk.FileSize())) t.impossible = true;
    } else if (a.type == "stsc") {
      length::Reader r = wk.Payload(a, 8);
      r.Skip(4);
      t.stscEntries = r.U32BE();
      if (!r.Ok()) t.unsettled = true;
    } else if (a.type == "stco" || a.type == "co64") {
      length::Reader r = wk.Payload(a, 8);
      r.Skip(4);
      t.chunkCount = r.U32BE();
      if (!r.Ok()) t.unsettled = true;
    } else if (a.type == "ctts" || a.type == "stz2") {
      t.unsettled = true;
    }
  });
}

void ReadMedia(Walker& wk, const Atom& mdia, Track& t) {
  wk.Children(mdia, 0, [&](const Atom& a) {
    if (a.type == "mdhd") {
      const uint8_t version = wk.Payload(a, 1).U8();
      length::Reader r = wk.Payload(a, version == 1 ? 4 + 16 + 4 + 8 : 4 + 8 + 4 + 4);
      r.Skip(4);
      if (++t.mediaHeaders > 1 || version > 1) return void(t.unsettled = true);
      r.Skip(version == 1 ? 16 : 8);
      t.timeScale = static_cast<int32_t>(r.U32BE());
      const uint64_t duration = version == 1 ? r.U64BE() : r.U32BE();
      if (!r.Ok() || duration > static_cast<uint64_t>(kInt64Max)) return void(t.unsettled = true);
      t.duration = static_cast<int64_t>(duration);
    } else if (a.type == "hdlr") {
      length::Reader r = wk.Payload(a, 12);
      r.Skip(8);
      t.audio = r.Chars(4) == "soun";
    } else if (a.type == "minf") {
      wk.Children(a, 0, [&](const Atom& m) {
        if (m.type == "stbl") ReadSampleTable(wk, m, t);
      });
    }
  });
}

// The first moov atom at the top level (found by seeking past everything
// else) and its tracks: all of them, or up to the first audio track.
struct Movie {
  int64_t timeScale = 0;
  bool fragmented = false;
  std::vector<Track> tracks;
};

std::optional<Movie> ReadMovie(Walker& wk, bool untilAudio) {
  const int64_t size = wk.FileSize();
  if (size < 8) return std::nullopt;
  Atom moov;
  bool found = false;
  Atom a;
  for (int64_t pos = 0; !found && wk.Next(pos, size, a); pos = a.end) {
    if (pos == 0 && a.type != "ftyp" && a.type != "moov" && a.type != "free" && a.type != "skip" &&
        a.type != "wide" && a.type != "mdat")
      return std::nullopt;  // not an ISO media file
    if (a.type == "moov") {
      moov = a;
      found = true;
    }
  }
  if (!found) return std::nullopt;

  Movie movie;
  bool haveAudio = false;
  wk.Children(moov, 0, [&](const Atom& c) {
    if (c.type == "mvhd") {
      const uint8_t version = wk.Payload(c, 1).U8();
      length::Reader r = wk.Payload(c, version == 1 ? 4 + 16 + 4 : 4 + 8 + 4);
      r.Skip(4 + (version == 1 ? 16 : 8));
      movie.timeScale = static_cast<int32_t>(r.U32BE());
      if (!r.Ok()) movie.timeScale = 0;
    } else if (c.type == "mvex") {
      movie.fragmented = true;
    } else if (c.type == "trak" && !(untilAudio && haveAudio)) {
      Track t;
      wk.Children(c, 0, [&](const Atom& k) {
        if (k.type == "mdia") {
          ReadMedia(wk, k, t);
        } else if (k.type == "edts") {
          wk.Children(k, 0, [&](const Atom& e) {
            if (e.type == "elst") ReadEditList(wk, e, t);
          });
        }
      });
      haveAudio = haveAudio || t.audio;
      movie.tracks.push_back(std::move(t));
    }
  });
  if (wk.Broken()) return std::nullopt;
  return movie;
}

}  // namespace

bool Mp4ClaimsMoreThanItHolds(const length::Source& file) {
  char head[8];
  if (file.ReadAt(0, head, sizeof head) != sizeof head) return false;
  const std::string_view type(head + 4, 4);
  if (type != "ftyp" && type != "moov" && type != "free" && type != "skip" && type != "wide" && type != "mdat")
    return false;
  Walker wk(file);
  const auto movie = ReadMovie(wk, false);
  if (!movie) return false;
  for (const Track& t : movie->tracks)
    if (t.impossible) return true;
  return false;
}

StatedLength Mp4AudioStatedLength(const length::Source& file) {
  Walker wk(file);
  const auto movie = ReadMovie(wk, true);
  if (!movie || movie->fragmented || movie->tracks.empty() || !movie->tracks.back().audio)
    return StatedLength::NotStated();
  const int64_t movieTimeScale = movie->timeScale;
  const Track& t = movie->tracks.back();
  if (t.impossible) return StatedLength::NoLength();
  if (t.unsettled || !t.codecKnown || t.mediaHeaders != 1 || t.timeScale <= 0 || t.sttsAtoms != 1 ||
      !t.haveStsz || t.sampleCount == 0 || t.sttsSamples != t.sampleCount || t.chunkCount == 0 ||
      t.stscEntries == 0)
    return StatedLength::NotStated();

  int64_t duration = t.duration;
  if (t.sttsDuration > 0) duration = std::min(duration, static_cast<int64_t>(t.sttsDuration));
  if (!t.edits.empty()) {
    if (movieTimeScale <= 0) return StatedLength::NotStated();
    int64_t end = 0;
    for (const Edit& e : t.edits) {
      int64_t d = Rescale(e.duration, t.timeScale, movieTimeScale);
      if (static_cast<uint64_t>(d) + static_cast<uint64_t>(e.mediaTime) > static_cast<uint64_t>(kInt64Max)) d = 0;
      if (d > kInt64Max - end) {
        end = kInt64Max;  // beyond reckoning: the edits do not cut
        break;
      }
      end += d;
    }
    duration = std::min(duration, end);
  }
  return StatedLength::Samples(duration, t.timeScale);
}

}  // namespace ordana
