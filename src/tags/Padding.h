#pragma once
// How much room a tag writer leaves for later edits, and when a new tag may
// take the old one's place. ID3v2 and FLAC follow the same policy: a new tag
// that fits the space of the old one is written in place, the padding taking
// up the difference (the file keeps its size); any other is written into a
// rewritten file with kRewritePadding zero bytes after it, so that the next
// small edit is saved in place again. The APE tag has no padding: it is
// always written anew at the end of the file.
#include <cstdint>
#include <limits>
#include <vector>

#include "bytes/ByteWriter.h"

namespace ordana {

// Zero bytes of padding a tag gets when its file is rewritten.
inline constexpr int64_t kRewritePadding = 2048;

// What a format's padding looks like.
struct PaddingRules {
  // Bytes in front of each piece of padding (a FLAC PADDING block's
  // header); 0 where padding is plain zero bytes after the tag.
  int64_t pieceHeader = 0;
  // The most zero bytes one piece holds (the FLAC block length's 24 bits).
  int64_t maxPieceBody = std::numeric_limits<int64_t>::max();
  // An old space larger than this is not reused: the file is rewritten.
  int64_t maxInPlace = std::numeric_limits<int64_t>::max();
};

// ID3v2: zero bytes after the frames. A tag of over 20 MiB (most often a
// damaged size field) is not kept as room; the rewrite gives it back.
inline constexpr PaddingRules kID3v2Padding{0, std::numeric_limits<int64_t>::max(), 20971520};
// FLAC: PADDING blocks, each a 4-byte header and at most 2^24 - 1 zeros.
inline constexpr PaddingRules kFLACPadding{4, bytes::ByteWriter::kMaxU24,
                                           std::numeric_limits<int64_t>::max()};

struct PaddingPlan {
  bool inPlace = false;
  int64_t padding = 0;  // bytes of padding, piece headers included
};

// Where a new tag of `built` bytes goes when the old one took `oldSpace`
// bytes (0 when the file has none, or none that may be reused): in place
// when it fits and what is left over can be padding (a gap smaller than a
// piece's header cannot), padded to exactly the old space; otherwise into a
// rewritten file with one piece header and kRewritePadding zeros.
PaddingPlan PlanPadding(int64_t built, int64_t oldSpace, const PaddingRules& rules);

// The zero counts of the pieces that fill `padding` bytes (headers
// included): as few pieces as the body limit allows, none left with a gap
// that a header cannot fill. Empty for 0 bytes, or for a count that no
// pieces can fill exactly (more than 0 and less than one header).
std::vector<int64_t> SplitPadding(int64_t padding, const PaddingRules& rules);

}  // namespace ordana
