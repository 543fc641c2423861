// Fuzzes TID3v1: any bytes as a file, read twice by one object so the second
// read starts from a used reader.
#include "tags/ID3v1.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.mp3");
  ordana::TID3v1 reader;
  for (int pass = 0; pass < 2; ++pass) {
    ordana::fuzz::Check(reader.ReadFromFile(path) || !reader.Exists(), "a failed read left a tag");
  }
  return 0;
}
