// Fuzzes TOggVorbis: any bytes as a file, read twice by one object so the
// second read starts from a used reader. The reader lets only the open
// error of its file pass (EFOpenError); the file exists, so any exception is
// a finding.
#include "tags/OggVorbis.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = ordana::fuzz::WriteInputFile(data, size, "input.ogg");
  ordana::TOggVorbis reader;
  for (int pass = 0; pass < 2; ++pass) {
    reader.ReadFromFile(path);
    if (reader.Valid()) (void)reader.ChannelMode();
  }
  return 0;
}
