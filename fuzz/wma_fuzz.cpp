// Fuzzes TWMA: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/WMAfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::TWMA reader;
  ordana::fuzz::ParseTwiceAlike(reader, data, size, ordana::fuzz::kValidWithChannelMode,
                                [](auto& t) { return t.Title(); });
  return 0;
}
