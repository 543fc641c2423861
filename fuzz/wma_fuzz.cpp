// Fuzzes TWMA: any bytes as a file, read twice by one object so the second
// read starts from a used reader.
#include "tags/WMAfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.wma");
  ordana::TWMA reader;
  for (int pass = 0; pass < 2; ++pass) {
    reader.LoadFromFile(path);
    if (reader.Valid()) (void)reader.ChannelMode();
  }
  return 0;
}
