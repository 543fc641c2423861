// Fuzzes TFLACfile: any bytes as a file, read twice by one object so the second
// read starts from a used reader.
#include "tags/FLACfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.flac");
  ordana::TFLACfile reader;
  for (int pass = 0; pass < 2; ++pass) {
    reader.ReadFromFile(path);
    (void)reader.Valid();
  }
  return 0;
}
