// Fuzzes TOggVorbis: any bytes parsed from memory, first as spans of the
// input, then through copies as from a file, by one object (so the second
// parse starts from a used reader); both parses must agree. The reader lets
// only the open error of its file pass; a source needs no opening, so any
// exception is a finding.
#include "tags/OggVorbis.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ordana::fuzz::Check;
  const ordana::fuzz::InputSources in(data, size);
  ordana::TOggVorbis reader;
  const bool read = reader.ReadFromSource(in.Memory());
  const bool valid = reader.Valid();
  if (valid) (void)reader.ChannelMode();
  const std::u16string title = reader.Title();
  Check(reader.ReadFromSource(in.Copied()) == read && reader.Valid() == valid && reader.Title() == title,
        "memory and copied reads differ");
  return 0;
}
