// Fuzzes TWMA: any bytes parsed from memory, first as spans of the input,
// then through copies as from a file, by one object (so the second parse
// starts from a used reader); both parses must agree.
#include "tags/WMAfile.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::TWMA reader;
  // The channel-mode text is asked for whenever the stream is valid.
  auto valid = [](auto& t) {
    const bool v = t.Valid();
    if (v) (void)t.ChannelMode();
    return v;
  };
  ordana::fuzz::ParseTwiceAlike(reader, data, size, valid, [](auto& t) { return t.Title(); });
  return 0;
}
