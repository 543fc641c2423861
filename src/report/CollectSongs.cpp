#include "report/CollectSongs.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/Collation.h"
#include "platform/FileIO.h"
#include "platform/MediaProbe.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "platform/TextFile.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackLength.h"

namespace ordana {

namespace {

inline bool IsBlank(char16_t c) { return c >= 0x0001 && c <= 0x0020; }

// A part of a log name as a number; 0 when it is not one.
int NamePart(std::u16string_view name, size_t from, size_t len) {
  if (from >= name.size()) return 0;
  return StrToIntDef(name.substr(from, len), 0);
}

// Two logs of one date where the lines of the first stand, in order and
// together, among the lines of the second (an identical copy, or a copy made
// while the log was still being written): every play of the first would be
// counted twice. A log without play lines doubles nothing.
struct LogLines {
  std::u16string name;
  std::vector<size_t> hashes;  // one per line
  int64_t plays = 0;
};

void FindDuplicateLogs(const std::vector<std::pair<TDate, LogLines>>& logs,
                       std::vector<TBuildWarning>& warnings) {
  for (size_t i = 0; i < logs.size(); ++i) {
    for (size_t j = i + 1; j < logs.size(); ++j) {
      if (logs[i].first != logs[j].first) continue;
      const LogLines* a = &logs[i].second;
      const LogLines* b = &logs[j].second;
      if (a->hashes.size() > b->hashes.size()) std::swap(a, b);
      if (a->plays == 0) continue;
      const bool identical = a->hashes == b->hashes;
      if (identical || std::search(b->hashes.begin(), b->hashes.end(), a->hashes.begin(), a->hashes.end()) !=
                           b->hashes.end()) {
        TBuildWarning w;
        w.Kind = TBuildWarning::TKind::DuplicateLog;
        w.Log1 = identical ? logs[i].second.name : a->name;
        w.Log2 = identical ? logs[j].second.name : b->name;
        w.Identical = identical;
        warnings.push_back(std::move(w));
      }
    }
  }
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
        // The text up to the next quote goes in as one piece.
        const size_t q = std::min(line.find(u'"', p), n);
        value.append(line.substr(p, q - p));
        p = q;
        if (p == n) break;  // no closing quote: the field runs to the end
        if (p + 1 < n && line[p + 1] == u'"') {
          value += u'"';
          p += 2;
          continue;
        }
        ++p;  // the closing quote
        break;
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

std::vector<TSongInfo> CountPlays(const std::u16string& Folder, TDate StartDate, TDate EndDate,
                                  TBuildSummary* Summary) {
  const std::u16string folder = IncludeTrailingDelimiter(Folder);

  // Every log name must carry a date, whether or not it lies in the period.
  std::vector<std::pair<TDate, std::u16string>> logs;
  for (std::u16string& name : ListDirectory(folder)) {
    if (!IsLogName(name)) continue;
    TDate d;
    try {
      d = LogNameDate(name);
    } catch (const EConvertError&) {
      throw EUndatedLogError(folder + name);
    }
    if (d < StartDate || EndDate < d) continue;
    logs.emplace_back(d, std::move(name));
  }

  // Logs sharing their date with another are compared line by line.
  std::map<TDate, int> perDate;
  for (const auto& log : logs) ++perDate[log.first];
  std::vector<std::pair<TDate, LogLines>> shared;

  // Plays per exact path; the logs are read one after the other, each in
  // pieces of whole lines.
  std::unordered_map<std::u16string, int32_t> plays;
  int64_t lines = 0, playLines = 0;
  std::u16string piece;
  for (const auto& [date, name] : logs) {
    LogLines* compare = nullptr;
    if (Summary && perDate[date] > 1) {
      shared.emplace_back(date, LogLines{name, {}, 0});
      compare = &shared.back().second;
    }
    TextFileReader reader(folder + name);
    while (reader.Next(piece)) {
      ForEachLine(piece, [&](std::u16string_view line) {
        ++lines;
        if (compare) compare->hashes.push_back(std::hash<std::u16string_view>{}(line));
        std::u16string fn = PlayLinePath(line);
        if (fn.empty()) return;
        ++playLines;
        if (compare) ++compare->plays;
        ++plays[std::move(fn)];
      });
    }
  }
  if (Summary) {
    for (const auto& log : logs) Summary->Logs.push_back(log.second);
    Summary->Lines = lines;
    Summary->PlayLines = playLines;
    if (logs.empty()) Summary->Warnings.push_back(TBuildWarning{});
    FindDuplicateLogs(shared, Summary->Warnings);
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

namespace {
// A row's file, opened once for all that reads it (an address is not
// opened); check, when given, tells how the open went.
InputFile OpenRowFile(const std::u16string& path, std::optional<ReadCheck>* check = nullptr) {
  if (LooksLikeAddress(path)) return InputFile();
  int err = 0;
  InputFile file = InputFile::Open(path, &err);
  if (check) *check = ReadCheckOfOpen(file.IsOpen(), err);
  return file;
}
}  // namespace

void FillRow(TSongInfo& row) { FillRow(row, OpenRowFile(row.FN)); }

void FillRow(TSongInfo& row, const InputFile& file) {
  try {
    ReadTrackInfoOf(file, row.FN, row.T, nullptr, 0);
  } catch (...) {
    // A file the tag readers cannot handle keeps what its entry holds.
  }
  row.Len = GetTrackLengthOf(file, row.FN);
}

namespace {
// Rows whose lengths the probe's helper is asked for ahead of their turn.
constexpr size_t kLengthsAhead = 8;
}  // namespace

RowFiller::RowFiller(std::vector<TSongInfo>& rows, const ReadAheadSettings& readAhead,
                     std::vector<std::optional<ReadCheck>>* checks)
    : rows_(rows), checks_(checks), depth_(readAhead.Depth), ahead_(readAhead) {
  if (checks_) checks_->assign(rows_.size(), std::nullopt);
}

bool RowFiller::FillNext() {
  const size_t i = next_;
  if (i >= rows_.size()) return false;
  // While one row's file is read, the disk already fetches the head and tail
  // of the next rows' files, and the media probe's helper measures the next
  // rows' lengths.
  for (; announced_ < rows_.size() && announced_ <= i + depth_; ++announced_) ahead_.Announce(rows_[announced_].FN);
  for (; lengthsQueued_ < rows_.size() && lengthsQueued_ <= i + kLengthsAhead; ++lengthsQueued_) {
    opened_.push_back(OpenRowFile(rows_[lengthsQueued_].FN, checks_ ? &(*checks_)[lengthsQueued_] : nullptr));
    AnnounceTrackLengthOf(opened_.back(), rows_[lengthsQueued_].FN);
  }
  FillRow(rows_[i], opened_.front());
  opened_.pop_front();
  ++next_;
  return true;
}

void FillRows(std::vector<TSongInfo>& rows, const ReadAheadSettings& readAhead,
              std::vector<std::optional<ReadCheck>>* checks) {
  RowFiller filler(rows, readAhead, checks);
  while (filler.FillNext()) {
  }
}

std::vector<TSongInfo> CollectSongs(const std::u16string& Folder, TDate StartDate, TDate EndDate) {
  return CollectSongs(Folder, StartDate, EndDate, nullptr);
}

std::vector<TSongInfo> CollectSongs(const std::u16string& Folder, TDate StartDate, TDate EndDate,
                                    TBuildSummary* Summary) {
  std::vector<TSongInfo> rows = CountPlays(Folder, StartDate, EndDate, Summary);
  // The summary takes each file's readability from the open that read it.
  std::vector<std::optional<ReadCheck>> checks;
  FillRows(rows, kReportReadAhead, Summary ? &checks : nullptr);
  if (Summary) SummarizeRows(rows, *Summary, checks);
  return rows;
}

}  // namespace ordana
