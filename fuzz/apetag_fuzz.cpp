// Fuzzes TAPETag: any bytes as a file, read twice by one object so the second
// read starts from a used reader.
#include "tags/APETag.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.ape");
  ordana::TAPETag reader;
  for (int pass = 0; pass < 2; ++pass) {
    ordana::fuzz::Check(reader.ReadFromFile(path) || !reader.Exists(), "a failed read left a tag");
  }
  return 0;
}
