#pragma once
// What a report build read and what its page is missing, for the people who
// run it: the logs read, the counts of lines, rows and plays, the rows whose
// cells stay empty or show "??:??", and warnings about the logs themselves
// (none in the period, a log copied under a second name). Any front end can
// show it; the page itself does not change.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileIO.h"
#include "report/SongInfo.h"

namespace ordana {

struct TBuildWarning {
  enum class TKind {
    NoLogInPeriod,  // no log of the folder is dated inside the period
    DuplicateLog,   // two logs of one date, one holding every line of the other
  };
  TKind Kind = TKind::NoLogInPeriod;
  // DuplicateLog: the two log names (the one whose lines the other holds
  // first) and whether their lines are identical.
  std::u16string Log1, Log2;
  bool Identical = false;
};

// One row that needs attention: its file is missing or unreadable, or its
// cells of title, artist, genre or length stay empty.
struct TProblemRow {
  std::u16string FN;  // the path as the log writes it
  int32_t PlayCount = 0;
  bool NotFound = false;     // nothing at the path
  bool NotReadable = false;  // something there that cannot be read
  bool NoTitle = false, NoArtist = false, NoGenre = false, NoLength = false;
};

struct TBuildSummary {
  std::vector<std::u16string> Logs;  // the names of the logs read, in reading order
  int64_t Lines = 0;                 // lines of those logs
  int64_t PlayLines = 0;             // lines kept as plays
  int64_t Rows = 0;                  // distinct paths, the rows of the report
  int64_t TotalPlays = 0;            // sum of the rows' play counts
  int64_t RowsWithoutTitle = 0;      // empty title cell
  int64_t RowsWithoutLength = 0;     // length "??:??"
  int64_t FilesNotFound = 0;         // nothing at the row's path
  int64_t FilesNotReadable = 0;      // something there that cannot be opened for reading
  int64_t StreamAddresses = 0;       // rows that are stream addresses, not files
  // Files the length probe could not measure because its sandboxed helper
  // failed on them (crashed, hit a limit or could not be started). Filled by
  // the probe's helper process; 0 while lengths are probed in this process.
  int64_t FilesProbeCouldNotMeasure = 0;
  std::vector<TBuildWarning> Warnings;
  std::vector<TProblemRow> Problems;  // in row order
};

// Fills the row counts and Problems of the summary from the finished rows
// (tags and lengths read). Stream addresses are never files: they are
// counted apart and need attention only when their length is missing.
// Line-input entries are not looked for as files.
void SummarizeRows(const std::vector<TSongInfo>& rows, TBuildSummary& summary);
// The same, where FillRows has found already whether each row's file opens
// (checks[i] for rows[i]; a row without one is checked here).
void SummarizeRows(const std::vector<TSongInfo>& rows, TBuildSummary& summary,
                   const std::vector<std::optional<ReadCheck>>& checks);

// The warning as one line of English text (UTF-8), naming the logs.
std::string WarningText(const TBuildWarning& warning);

// What a problem row misses, as the CSV writes it: "file not found", "file
// cannot be read", or the missing cells among "title, artist, genre, length".
std::string MissingText(const TProblemRow& problem);

// The problem rows as a CSV file for a spreadsheet: UTF-8 with a byte-order
// mark, ';' between fields (as the play logs), CR LF after each line, a
// header line "path;plays;missing", fields quoted when they hold ';', ',', '"',
// a line break or blanks at an end.
std::string ProblemsCsv(const std::vector<TProblemRow>& problems);
// Writes ProblemsCsv to a file, replacing it; throws EFCreateError naming it.
void WriteProblemsCsv(const std::vector<TProblemRow>& problems, const std::u16string& FileName);

}  // namespace ordana
