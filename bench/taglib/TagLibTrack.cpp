#include "taglib/TagLibTrack.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"

namespace ordana::bench {

namespace {
std::u16string Text(const TagLib::String& s) { return Utf8ToUtf16(Utf8View(s.to8Bit(true))); }
}  // namespace

bool ReadWithTagLib(const std::u16string& path, TPlaylistEntry& entry, uint32_t& lengthMs) {
  entry = EmptyPlaylistEntry;
  entry.filename = path;
  lengthMs = 0;
  const std::string native = NativePath(path);
  TagLib::FileRef f(native.c_str(), true, TagLib::AudioProperties::Average);
  if (f.isNull()) return false;
  if (const TagLib::AudioProperties* p = f.audioProperties())
    lengthMs = static_cast<uint32_t>(p->lengthInMilliseconds());
  const TagLib::Tag* t = f.tag();
  if (!t || t->isEmpty()) return false;
  entry.title = Text(t->title());
  entry.artist = Text(t->artist());
  entry.album = Text(t->album());
  if (t->year() != 0) entry.year = Utf8ToUtf16(Utf8View(std::to_string(t->year())));
  entry.comment = Text(t->comment());
  entry.genre = Text(t->genre());
  return true;
}

}  // namespace ordana::bench
