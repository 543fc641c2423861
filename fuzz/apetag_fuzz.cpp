// Fuzzes TAPETag: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/APETag.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::TAPETag r;
  ordana::fuzz::ParseTwiceAlike(r, data, size, [](auto& t) { return t.Exists(); },
                                [](auto& t) { return t.SeekField("Title"); });
  return 0;
}
