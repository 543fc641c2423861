// Fuzzes TAPETag: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/APETag.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ordana::fuzz::Check;
  const ordana::fuzz::InputSources in(data, size);
  ordana::TAPETag r;
  const bool read = r.ReadFromSource(in.Memory());
  Check(read || !r.Exists(), "a failed read left a tag");
  const bool found = r.Exists();
  const auto key = r.SeekField("Title");
  Check(r.ReadFromSource(in.Copied()) == read && r.Exists() == found && r.SeekField("Title") == key,
        "memory and copied reads differ");
  return 0;
}
