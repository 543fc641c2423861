// Fuzzes TWAVfile: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/WAVfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::TWAVfile r;
  ordana::fuzz::ParseTwiceAlike(r, data, size, [](auto& t) { return t.Valid(); },
                                [](auto& t) { return t.SampleRate(); });
  return 0;
}
