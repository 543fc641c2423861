// Fuzzes TID3v2 and the size rule other readers use to skip a leading tag.
#include "tags/ID3v2.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ordana::fuzz::Check;
  if (size >= 10) {
    const int32_t total = ordana::ID3v2TotalTagSize(data, int64_t(size));
    Check(total >= 0 && total <= int64_t(size), "tag size outside the file");
  }
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.mp3");
  ordana::TID3v2 reader;
  for (int pass = 0; pass < 2; ++pass) {
    const bool read = reader.ReadFromFile(path);
    Check(read || !reader.Exists(), "a failed read left a tag");
    Check(reader.Size() >= 0 && reader.Size() <= int64_t(size), "tag size outside the file");
  }
  return 0;
}
