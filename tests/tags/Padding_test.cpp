#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tags/Padding.h"

namespace ordana {
namespace {

constexpr int64_t kMiB20 = 20971520;
constexpr int64_t kMaxBody = 0xFFFFFF;

struct Case {
  int64_t built, oldSpace;
  bool inPlace;
  int64_t padding;
};

void ExpectPlans(const std::vector<Case>& cases, const PaddingRules& rules) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.built << " into " << c.oldSpace);
    const PaddingPlan p = PlanPadding(c.built, c.oldSpace, rules);
    EXPECT_EQ(p.inPlace, c.inPlace);
    EXPECT_EQ(p.padding, c.padding);
  }
}

TEST(Padding, ID3v2ReusesAnyFittingSpaceUpTo20MiBElseRewritesWith2048) {
  const std::vector<Case> cases = {
      {300, 300, true, 0},                 // fills the old tag exactly
      {300, 301, true, 1},                 // a single zero byte is padding enough
      {300, 4000, true, 3700},             // the file keeps its size
      {301, 300, false, 2048},             // too large: built + 2048
      {300, 0, false, 2048},               // no tag to reuse
      {300, kMiB20, true, kMiB20 - 300},
      {300, kMiB20 + 1, false, 2048},      // a larger old tag is not kept as room
  };
  ExpectPlans(cases, kID3v2Padding);
  // Plain zero bytes: one piece, however long.
  for (const Case& c : cases) {
    const std::vector<int64_t> pieces = SplitPadding(c.padding, kID3v2Padding);
    if (c.padding == 0) EXPECT_TRUE(pieces.empty());
    else EXPECT_EQ(pieces, std::vector<int64_t>{c.padding});
  }
}

TEST(Padding, FLACNeedsRoomForABlockHeaderElseRewritesWithA2052ByteBlock) {
  ExpectPlans({
                  {100, 100, true, 0},      // no padding block at all
                  {100, 101, false, 2052},  // 1 to 3 bytes cannot hold a block header
                  {100, 103, false, 2052},
                  {100, 104, true, 4},      // an empty padding block
                  {100, 4196, true, 4096},
                  {101, 100, false, 2052},
                  {100, 0, false, 2052},
              },
              kFLACPadding);
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
