// Save-then-reread for TAPETag: any file, read, the item list edited as the
// input chooses, then WriteTagInFile (and now and then RemoveTagFromFile).
// A failed write must leave the file as it was; a successful one must keep
// the audio before the old tag and a trailing ID3v1 tag, and read back the
// items written.
#include <string>

#include "FuzzInput.h"
#include "platform/TextCodec.h"
#include "tags/APETag.h"

namespace {

using ordana::fuzz::Check;

// Names made of visible ASCII read back byte for byte.
bool PlainName(const ordana::Utf8String& text) {
  const std::string& name = text.bytes();
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c <= 0x20 || c >= 0x7F) return false;
  return true;
}

ordana::Utf8String Name(ordana::fuzz::SaveInput& in) {
  const size_t length = 1 + in.Byte() % 16;
  std::string name;
  for (size_t i = 0; i < length; ++i) name += char(0x21 + in.Byte() % 0x5E);
  return ordana::Utf8String(std::move(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ordana::fuzz::SaveCase file(data, size, "input.ape");
  ordana::TAPETag tag;
  tag.ReadFromFile(file.path);
  const bool hadTag = tag.Exists();
  const int64_t oldTagSize = tag.Size();
  const int edits = file.in.Byte() % 8;
  for (int i = 0; i < edits; ++i) {
    const int count = int(tag.Fields().size());
    const int at = count ? file.in.Byte() % count : 0;
    bool clean = false;
    switch (file.in.Byte() % 7) {
      case 0: tag.AppendField(Name(file.in), ordana::Utf8String(file.in.Bytes())); break;
      case 1: tag.EditField(ordana::Utf8ToUtf16(Name(file.in)), file.in.Text(clean)); break;
      case 2: tag.EditField(file.in.Text(clean), file.in.Text(clean)); break;
      case 3: if (count) tag.DeleteField(ordana::Utf8ToUtf16(tag.Fields()[at].Name)); break;
      case 4: tag.RemoveField(at); break;
      case 5: tag.SwapFields(at, file.in.Byte() % (count + 1)); break;
      default: tag.InsertField(at, Name(file.in), ordana::Utf8String(file.in.Bytes())); break;
    }
  }

  const bool saved = tag.WriteTagInFile(file.path);
  const std::string after = file.After(saved);
  if (!saved) return 0;
  const bool hasID3v1 = file.before.size() > 128 && file.before.compare(file.before.size() - 128, 3, "TAG") == 0;
  const std::string id3v1 = hasID3v1 ? file.before.substr(file.before.size() - 128) : std::string();
  const std::string written = tag.BuildTag() + id3v1;
  Check(after.size() >= written.size() &&
            after.compare(after.size() - written.size(), std::string::npos, written) == 0,
        "the file does not end with the tag and the kept ID3v1 tag");
  // What comes before is the original's beginning: no more than the old
  // tag (and its header) is left out.
  const size_t audio = after.size() - written.size();
  Check(file.before.compare(0, audio, after, 0, audio) == 0, "the audio before the tag changed");
  const int64_t removed = int64_t(file.before.size() - id3v1.size()) - int64_t(audio);
  Check(removed >= 0 && removed <= (hadTag ? oldTagSize + 32 : 0), "more than the old tag was cut");

  // Without an ID3v1 tag, tag bytes that happen to spell "TAG" 128 bytes
  // before the end make any reader take them for one: the format cannot
  // tell the two apart.
  if (!hasID3v1 && after.size() > 128 && after.compare(after.size() - 128, 3, "TAG") == 0) return 0;
  ordana::TAPETag back;
  Check(back.ReadFromFile(file.path) && back.Exists(), "the written tag is not found");
  Check(back.Fields().size() == tag.Fields().size(), "item count read back");
  for (size_t i = 0; i < tag.Fields().size(); ++i) {
    const ordana::RField& w = tag.Fields()[i];
    const ordana::RField& r = back.Fields()[i];
    Check(r.Value == w.Value && r.Flags == w.Flags, "an item read back differs");
    if (PlainName(w.Name)) Check(r.Name == w.Name, "an item name read back differs");
  }

  if (file.in.Flag()) {
    Check(back.RemoveTagFromFile(file.path), "removing a tag that is there failed");
    Check(ordana::fuzz::ReadInputFile(file.path) == after.substr(0, audio) + id3v1,
          "removing the tag did not leave the audio and the ID3v1 tag");
  }
  return 0;
}
