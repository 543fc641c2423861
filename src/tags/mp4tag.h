#pragma once
// MP4 item list (moov/udta/meta/ilst).
//
// TMp4Tag walks the atoms of an MPEG-4 file from its start down the path
// moov, udta, meta, ilst and takes the text items it knows from the item
// list. It reads no stream parameters.
//
// The walk is flat (no stack of open containers) and stops at the first atom
// with more than 1 MiB of payload, so a file whose media data comes before
// "moov" yields no items. An empty atom (size 8) is passed over; an item of
// the list is left by its own size, and its value is bounded by it.
#include <string>

#include "bytes/ByteSource.h"
#include "tags/Tagger.h"

namespace ordana {

// Walks a file's atoms into a record; Exists and the result are true (the
// walk ends quietly where the file does not go on as expected).
bool ParseMP4(const bytes::ByteSource& file, TaggerRecord& tag);

class TMp4Tag : public TTagger {
 public:
  // Empties the texts and the track number, walks the file and returns
  // Exists(): true whenever the file could be opened, also when it holds no
  // item list.
  bool ReadFromFile(const std::u16string& FileName);
  // The same over bytes already at hand.
  bool ReadFromSource(const bytes::ByteSource& Source) { return ParseMP4(Source, F); }
};

}  // namespace ordana
