// Fuzzes TMp4Tag: any bytes as a file, read twice by one object so the second
// read starts from a used reader.
#include "tags/mp4tag.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.m4a");
  ordana::TMp4Tag reader;
  for (int pass = 0; pass < 2; ++pass) {
    reader.ReadFromFile(path);
    (void)reader.Exists();
  }
  return 0;
}
