// Fuzzes TFLACfile: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/FLACfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ordana::fuzz::Check;
  const ordana::fuzz::InputSources in(data, size);
  ordana::TFLACfile r;
  const bool read = r.ReadFromSource(in.Memory());
    const bool found = r.Valid();
  const auto key = r.Title();
  Check(r.ReadFromSource(in.Copied()) == read && r.Valid() == found && r.Title() == key,
        "memory and copied reads differ");
  return 0;
}
