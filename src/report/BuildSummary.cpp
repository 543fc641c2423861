#include "report/BuildSummary.h"

#include <cerrno>

#include "platform/FileIO.h"
#include "platform/SafeWrite.h"
#include "platform/Strings.h"
#include "platform/TextCodec.h"
#include "trackinfo/ReadTrackInfo.h"
#include "trackinfo/TrackLength.h"

namespace ordana {

namespace {

bool Blank(const std::u16string& s) { return Trim(s).empty(); }

std::string CsvField(const std::string& s) {
  const bool quote = s.find_first_of(";,\"\r\n") != std::string::npos ||
                     (!s.empty() && (static_cast<unsigned char>(s.front()) <= 0x20 ||
                                     static_cast<unsigned char>(s.back()) <= 0x20));
  if (!quote) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

void SummarizeRows(const std::vector<TSongInfo>& rows, TBuildSummary& s) { SummarizeRows(rows, s, {}); }

void SummarizeRows(const std::vector<TSongInfo>& rows, TBuildSummary& s,
                   const std::vector<std::optional<ReadCheck>>& checks) {
  s.Rows = static_cast<int64_t>(rows.size());
  s.TotalPlays = 0;
  s.RowsWithoutTitle = s.RowsWithoutLength = s.FilesNotFound = s.FilesNotReadable = s.StreamAddresses = 0;
  s.Problems.clear();
  for (size_t i = 0; i < rows.size(); ++i) {
    const TSongInfo& row = rows[i];
    s.TotalPlays += row.PlayCount;
    TProblemRow p;
    p.FN = row.FN;
    p.PlayCount = row.PlayCount;
    p.NoTitle = Blank(row.T.title);
    p.NoArtist = Blank(row.T.artist);
    p.NoGenre = Blank(row.T.genre);
    p.NoLength = row.Len == 0;
    s.RowsWithoutTitle += p.NoTitle;
    s.RowsWithoutLength += p.NoLength;
    bool attention = false;
    if (IsStreamUrl(row.FN)) {
      // No tags can be given to a stream; its length comes from the log.
      ++s.StreamAddresses;
      p.NoTitle = p.NoArtist = p.NoGenre = false;
      attention = p.NoLength;
    } else {
      if (!IsLineInEntry(row.FN)) {
        const ReadCheck check = i < checks.size() && checks[i] ? *checks[i] : CheckReadable(row.FN);
        p.NotFound = check == ReadCheck::NotFound;
        p.NotReadable = check == ReadCheck::NotReadable;
        s.FilesNotFound += p.NotFound;
        s.FilesNotReadable += p.NotReadable;
      }
      attention = p.NotFound || p.NotReadable || p.NoTitle || p.NoArtist || p.NoGenre || p.NoLength;
    }
    if (attention) s.Problems.push_back(std::move(p));
  }
}

std::string WarningText(const TBuildWarning& w) {
  switch (w.Kind) {
    case TBuildWarning::TKind::NoLogInPeriod:
      return "no play log is dated inside the period (is the folder or the period right?)";
    case TBuildWarning::TKind::DuplicateLog:
      return "the logs \"" + Utf16ToUtf8(w.Log1).bytes() + "\" and \"" + Utf16ToUtf8(w.Log2).bytes() +
             "\" have the same date and " +
             (w.Identical ? std::string("the same lines")
                          : "the second holds every line of the first") +
             ": their plays are counted twice";
  }
  return {};
}

std::string MissingText(const TProblemRow& p) {
  if (p.NotFound) return "file not found";
  if (p.NotReadable) return "file cannot be read";
  std::string out;
  auto add = [&](bool missing, const char* what) {
    if (missing) out += (out.empty() ? "" : ", ") + std::string(what);
  };
  add(p.NoTitle, "title");
  add(p.NoArtist, "artist");
  add(p.NoGenre, "genre");
  add(p.NoLength, "length");
  return out;
}

std::string ProblemsCsv(const std::vector<TProblemRow>& problems) {
  std::string out = "\xEF\xBB\xBFpath;plays;missing\r\n";
  for (const TProblemRow& p : problems)
    out += CsvField(Utf16ToUtf8(p.FN).bytes()) + ";" + std::to_string(p.PlayCount) + ";" + CsvField(MissingText(p)) + "\r\n";
  return out;
}

void WriteProblemsCsv(const std::vector<TProblemRow>& problems, const std::u16string& FileName) {
  const std::string bytes = ProblemsCsv(problems);
  // Through the save layer, as the report: a missing file is created, an
  // existing one replaced whole or left as it was.
  SaveOptions options;
  options.createIfMissing = true;
  SaveSession file(FileName, options);
  const bool ok = file && file.Rewrite([&](OutputFile& out) { return out.Write(bytes); });
  if (!ok) throw MakeCreateError(FileName, file.Status().code ? file.Status().code : EIO);
}

}  // namespace ordana
