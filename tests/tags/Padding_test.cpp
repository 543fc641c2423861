#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tags/Padding.h"

namespace ordana {
namespace {

constexpr int64_t kMiB20 = 20971520;
constexpr int64_t kMaxBody = 0xFFFFFF;

TEST(Padding, ID3v2ReusesAnyFittingSpaceUpTo20MiBElseRewritesWith2048) {
  struct Case {
    int64_t built, oldSpace;
    bool inPlace;
    int64_t padding;
  };
  for (const Case& c : {
           Case{300, 300, true, 0},          // fills the old tag exactly
           Case{300, 301, true, 1},          // a single zero byte is padding enough
           Case{300, 4000, true, 3700},      // the file keeps its size
           Case{301, 300, false, 2048},      // too large: built + 2048
           Case{300, 0, false, 2048},        // no tag to reuse
           Case{300, kMiB20, true, kMiB20 - 300},
           Case{300, kMiB20 + 1, false, 2048},  // a larger old tag is not kept as room
       }) {
    SCOPED_TRACE(testing::Message() << c.built << " into " << c.oldSpace);
    const PaddingPlan p = PlanPadding(c.built, c.oldSpace, kID3v2Padding);
    EXPECT_EQ(p.inPlace, c.inPlace);
    EXPECT_EQ(p.padding, c.padding);
    // Plain zero bytes: one piece, however long.
    const std::vector<int64_t> pieces = SplitPadding(p.padding, kID3v2Padding);
    if (p.padding == 0) EXPECT_TRUE(pieces.empty());
    else EXPECT_EQ(pieces, std::vector<int64_t>{p.padding});
  }
}

TEST(Padding, FLACNeedsRoomForABlockHeaderElseRewritesWithA2052ByteBlock) {
  struct Case {
    int64_t built, oldSpace;
    bool inPlace;
    int64_t padding;
  };
  for (const Case& c : {
           Case{100, 100, true, 0},    // no padding block at all
           Case{100, 101, false, 2052},  // 1 to 3 bytes cannot hold a block header
           Case{100, 103, false, 2052},
           Case{100, 104, true, 4},    // an empty padding block
           Case{100, 4196, true, 4096},
           Case{101, 100, false, 2052},
           Case{100, 0, false, 2052},
       }) {
    SCOPED_TRACE(testing::Message() << c.built << " into " << c.oldSpace);
    const PaddingPlan p = PlanPadding(c.built, c.oldSpace, kFLACPadding);
    EXPECT_EQ(p.inPlace, c.inPlace);
    EXPECT_EQ(p.padding, c.padding);
  }
  EXPECT_EQ(SplitPadding(2052, kFLACPadding), std::vector<int64_t>{2048});
  EXPECT_EQ(SplitPadding(4, kFLACPadding), std::vector<int64_t>{0});
  EXPECT_TRUE(SplitPadding(0, kFLACPadding).empty());
  for (int64_t cannot : {1, 2, 3}) EXPECT_TRUE(SplitPadding(cannot, kFLACPadding).empty()) << cannot;
}

TEST(Padding, FLACSpaceBeyondOneBlockLengthIsSplitWithoutAGapTooSmallForAHeader) {
  EXPECT_EQ(SplitPadding(4 + kMaxBody, kFLACPadding), std::vector<int64_t>{kMaxBody});
  EXPECT_EQ(SplitPadding(8 + kMaxBody, kFLACPadding), (std::vector<int64_t>{kMaxBody, 0}));
  // One more byte than a full block: the first block gives up three so that
  // the rest can still carry a header.
  EXPECT_EQ(SplitPadding(5 + kMaxBody, kFLACPadding), (std::vector<int64_t>{kMaxBody - 3, 0}));
  EXPECT_EQ(SplitPadding(7 + kMaxBody, kFLACPadding), (std::vector<int64_t>{kMaxBody - 1, 0}));

  // Around every boundary the blocks fill the space exactly, each within
  // the 24-bit length, and no more of them than needed.
  for (int64_t base : {int64_t{4}, 4 + kMaxBody, 2 * (4 + kMaxBody), 3 * (4 + kMaxBody)}) {
    for (int64_t d = -8; d <= 8; ++d) {
      const int64_t padding = base + d;
      if (padding < 4) continue;
      SCOPED_TRACE(padding);
      const std::vector<int64_t> pieces = SplitPadding(padding, kFLACPadding);
      ASSERT_FALSE(pieces.empty());
      int64_t sum = 0;
      for (int64_t body : pieces) {
        EXPECT_GE(body, 0);
        EXPECT_LE(body, kMaxBody);
        sum += 4 + body;
      }
      EXPECT_EQ(sum, padding);
      // As few blocks as the length allows.
      EXPECT_EQ(pieces.size(), size_t((padding + 3 + kMaxBody) / (4 + kMaxBody)));
    }
  }
}

}  // namespace
}  // namespace ordana
