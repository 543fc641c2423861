#pragma once
// Turns the play logs of a period into report rows: every "*.csv" log in a
// folder whose name begins with a date inside the period is read, the path
// of each play line is kept, and every distinct path becomes one row with its
// play count, tags and length.
#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Calendar.h"
#include "platform/FileIO.h"
#include "platform/ReadAhead.h"
#include "report/BuildSummary.h"
#include "report/SongInfo.h"

namespace ordana {

// Splits one log line into its fields: ';' separates, '"' quotes (a doubled
// quote inside quotes is one quote), blanks (U+0001..U+0020) end an unquoted
// field and are skipped around fields, and a ';' that is the line's last
// character adds a final empty field. A quoted field without its closing
// quote takes the rest of the line. Parsing stops after maxFields fields.
std::vector<std::u16string> ParseLogLine(std::u16string_view line,
                                         size_t maxFields = std::numeric_limits<size_t>::max());

// The audio path of a play line (4 or more fields, the second empty, the
// fourth not empty); empty for every other line.
std::u16string PlayLinePath(std::u16string_view line);

// The date a log's file name begins with: characters 1-4 year, 6-7 month,
// 9-10 day; a part that is no number counts as 0. Throws EConvertError
// "Invalid argument to date encode" when they form no valid date.
TDate LogNameDate(std::u16string_view name);

// True when a directory entry's name matches "*.csv" (letter case ignored).
bool IsLogName(std::u16string_view name);

// The error for a log name without a valid date: EConvertError "Invalid
// argument to date encode", and the log's full path for front ends that
// can say more.
struct EUndatedLogError : EConvertError {
  explicit EUndatedLogError(std::u16string fileName)
      : EConvertError("Invalid argument to date encode"), FileName(std::move(fileName)) {}
  std::u16string FileName;
};

// The rows for the logs in Folder dated StartDate..EndDate (both included):
// every distinct play path once, with its play count, sorted by path in the
// locale's case-insensitive order; tags and lengths not yet read. Throws as
// CollectSongs does. With a summary, fills in the logs read, their lines and
// the warnings about them.
std::vector<TSongInfo> CountPlays(const std::u16string& Folder, TDate StartDate, TDate EndDate,
                                  TBuildSummary* Summary = nullptr);

// How far the report reads ahead: the first 256 KiB and the last 64 KiB of
// the next 16 rows' files are hinted to the system while a row is read
// (enough for the tags and stream headers of most files, a cover included);
// hints pause while every read comes from memory. On the benchmark library
// this took a cold month's rows to 0.65-0.67 of the time without, at no
// measurable warm cost (bench/README.md).
inline constexpr ReadAheadSettings kReportReadAhead{256 * 1024, 64 * 1024, 16};

// Fills one row's tags (ReadTrackInfo; its exceptions are ignored) and length
// (GetTrackLength), both from one open of the row's file.
void FillRow(TSongInfo& row);
// The same from the row's file opened by the caller (see ReadTrackInfoOf).
void FillRow(TSongInfo& row, const InputFile& file);

// Fills every row (FillRow), in row order, with read-ahead of later rows.
// With checks, checks[i] tells how the open of rows[i]'s file went (none
// for an address, which is not opened).
void FillRows(std::vector<TSongInfo>& rows, const ReadAheadSettings& readAhead = kReportReadAhead,
              std::vector<std::optional<ReadCheck>>* checks = nullptr);

// FillRows one row at a time: each FillNext() fills the next row, after
// hinting the next rows' files to the system and opening the next rows'
// files for the media probe's helper, which measures their lengths
// meanwhile. Each file is opened once, for its announcement and its own row.
// The rows (and checks) must outlive the filler and keep their size.
class RowFiller {
 public:
  RowFiller(std::vector<TSongInfo>& rows, const ReadAheadSettings& readAhead = kReportReadAhead,
            std::vector<std::optional<ReadCheck>>* checks = nullptr);
  RowFiller(const RowFiller&) = delete;
  RowFiller& operator=(const RowFiller&) = delete;

  // Fills the next row; false once every row is filled.
  bool FillNext();

 private:
  std::vector<TSongInfo>& rows_;
  std::vector<std::optional<ReadCheck>>* checks_;
  size_t depth_;
  FileReadAhead ahead_;
  size_t next_ = 0;
  size_t announced_ = 1;  // rows before this one have been hinted (row 0 is read at once)
  size_t lengthsQueued_ = 0;
  std::deque<InputFile> opened_;  // the files of rows next_.. lengthsQueued_
};

// The rows for the logs in Folder dated StartDate..EndDate (both included),
// sorted by path in the locale's case-insensitive order. Throws
// EConvertError (an EUndatedLogError) for a log name without a valid date
// (whatever its date) and EFOpenError for a log of the period that cannot be
// read. Each log is decoded in pieces, so a log of any size is read whole.
std::vector<TSongInfo> CollectSongs(const std::u16string& Folder, TDate StartDate, TDate EndDate);
// The same, and the summary of the build filled in when Summary is given
// (the logs, lines and warnings, then SummarizeRows over the rows).
std::vector<TSongInfo> CollectSongs(const std::u16string& Folder, TDate StartDate, TDate EndDate,
                                    TBuildSummary* Summary);

}  // namespace ordana
