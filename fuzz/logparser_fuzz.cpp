// Fuzzes the play-log line parser and the log-name date rule: any bytes as
// the text of one line (decoded as the log loader does) and as a file name.
#include <exception>

#include "FuzzInput.h"
#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "report/CollectSongs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string line = ordana::DecodeTextWithBom(bytes);
  const std::vector<std::u16string> fields = ordana::ParseLogLine(line);
  size_t total = 0;
  for (const std::u16string& f : fields) total += f.size();
  // Fields are pieces of the line: together never longer than it.
  ordana::fuzz::Check(total <= line.size(), "fields longer than their line");
  const std::u16string path = ordana::PlayLinePath(line);
  ordana::fuzz::Check(path.empty() || (fields.size() >= 4 && fields[1].empty() && path == fields[3]),
                      "a path taken from a line that is not a play line");
  try {
    ordana::TDate d = ordana::LogNameDate(line.substr(0, 64));
    ordana::fuzz::Check(d.Month >= 1 && d.Month <= 12 && d.Day >= 1 && d.Day <= 31,
                        "an impossible date accepted");
  } catch (const ordana::EConvertError&) {
  }
  return 0;
}
