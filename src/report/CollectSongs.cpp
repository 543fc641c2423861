#include "report/CollectSongs.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/Collation.h"
#include "platform/FileIO.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackLength.h"

namespace ordana {

namespace {

inline bool IsBlank(char16_t c) { return c >= 0x0001 && c <= 0x0020; }

// Calls fn(line) for every line of text; CR, LF and CR LF end a line, and a
// last line without an end counts too.
template <class Fn>
void ForEachLine(std::u16string_view text, Fn&& fn) {
  size_t start = 0;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      fn(text.substr(start, i - start));
      i += (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < n) fn(text.substr(start));
}

// A part of a log name as a number; 0 when it is not one.
int NamePart(std::u16string_view name, size_t from, size_t len) {
  if (from >= name.size()) return 0;
  return StrToIntDef(name.substr(from, len), 0);
}

}  // namespace

std::vector<std::u16string> ParseLogLine(std::u16string_view line, size_t maxFields) {
  std::vector<std::u16string> fields;
  const size_t n = line.size();
  size_t p = 0;
  while (p < n && IsBlank(line[p])) ++p;
  while (p < n && fields.size() < maxFields) {
    std::u16string value;
    if (line[p] == u'"') {
      ++p;
      while (p < n) {
        if (line[p] == u'"') {
          if (p + 1 < n && line[p + 1] == u'"') {
            value += u'"';
            p += 2;
            continue;
          }
          ++p;  // the closing quote
          break;
        }
        value += line[p++];
      }
    } else {
      size_t s = p;
      while (p < n && line[p] != u';' && !IsBlank(line[p])) ++p;
      value.assign(line.substr(s, p - s));
    }
    fields.push_back(std::move(value));
    while (p < n && IsBlank(line[p])) ++p;
    if (p < n && line[p] == u';') {
      ++p;
      if (p == n && fields.size() < maxFields) fields.emplace_back();
      while (p < n && IsBlank(line[p])) ++p;
    }
  }
  return fields;
}

std::u16string PlayLinePath(std::u16string_view line) {
  std::vector<std::u16string> f = ParseLogLine(line, 4);
  if (f.size() < 4 || !f[1].empty()) return {};
  return std::move(f[3]);
}

TDate LogNameDate(std::u16string_view name) {
  return EncodeDate(NamePart(name, 0, 4), NamePart(name, 5, 2), NamePart(name, 8, 2));
}

bool IsLogName(std::u16string_view name) {
  if (name.size() < 4) return false;
  return UpperAscii(name.substr(name.size() - 4)) == u".CSV";
}

std::vector<TSongInfo> CountPlays(const std::u16string& Folder, TDate StartDate, TDate EndDate) {
  const std::u16string folder = IncludeTrailingDelimiter(Folder);

  // Every log name must carry a date, whether or not it lies in the period.
  std::vector<std::u16string> logs;
  for (std::u16string& name : ListDirectory(folder)) {
    if (!IsLogName(name)) continue;
    TDate d = LogNameDate(name);
    if (d < StartDate || EndDate < d) continue;
    logs.push_back(std::move(name));
  }

  // Plays per exact path; the logs are read one after the other.
  std::unordered_map<std::u16string, int32_t> plays;
  for (const std::u16string& name : logs) {
    const std::u16string path = folder + name;
    const std::u16string text = DecodeTextWithBom(ReadWholeFile(path));
    ForEachLine(text, [&](std::u16string_view line) {
      std::u16string fn = PlayLinePath(line);
      if (!fn.empty()) ++plays[std::move(fn)];
    });
  }
  if (plays.empty()) return {};

  // Distinct paths in collation order; exactly equal paths form one row.
  std::vector<std::u16string> paths;
  paths.reserve(plays.size());
  for (auto& kv : plays) paths.push_back(kv.first);
  SortByCollation(paths);

  std::vector<TSongInfo> rows;
  rows.reserve(paths.size());
  for (std::u16string& p : paths) {
    TSongInfo row;
    row.PlayCount = plays[p];
    row.FN = std::move(p);
    rows.push_back(std::move(row));
  }
  return rows;
}

void FillRows(std::vector<TSongInfo>& rows, const ReadAheadSettings& readAhead) {
  // While one row's file is read, the disk already fetches the head and tail
  // of the next rows' files.
  FileReadAhead ahead(readAhead);
  size_t announced = 1;  // rows before this one have been announced (row 0 is read at once)
  for (size_t i = 0; i < rows.size(); ++i) {
    for (; announced < rows.size() && announced <= i + readAhead.Depth; ++announced)
      ahead.Announce(rows[announced].FN);
    TSongInfo& row = rows[i];
    try {
      ReadTrackInfo(row.FN, row.T, nullptr, 0);
    } catch (...) {
      // A file the tag readers cannot handle keeps what its entry holds.
    }
    row.Len = GetTrackLength(row.FN);
  }
}

std::vector<TSongInfo> CollectSongs(const std::u16string& Folder, TDate StartDate, TDate EndDate) {
  std::vector<TSongInfo> rows = CountPlays(Folder, StartDate, EndDate);
  FillRows(rows);
  return rows;
}

}  // namespace ordana
