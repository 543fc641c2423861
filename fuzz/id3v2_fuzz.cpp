// Fuzzes TID3v2 and the size rule other readers use to skip a leading tag:
// any bytes parsed from memory, first as spans of the input, then through
// copies as from a file, by one object; both parses must agree.
#include <utility>

#include "tags/ID3v2.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ordana::fuzz::Check;
  if (size >= 10) {
    const int32_t total = ordana::ID3v2TotalTagSize(data, int64_t(size));
    Check(total >= 0 && total <= int64_t(size), "tag size outside the file");
  }
  ordana::TID3v2 reader;
  ordana::fuzz::ParseTwiceAlike(reader, data, size, [](auto& t) { return t.Exists(); },
                                [](auto& t) { return std::make_pair(t.Size(), t.Title()); });
  Check(reader.Size() >= 0 && reader.Size() <= int64_t(size), "tag size outside the file");
  return 0;
}
