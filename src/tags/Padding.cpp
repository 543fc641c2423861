#include "tags/Padding.h"

#include <algorithm>

namespace ordana {

PaddingPlan PlanPadding(int64_t built, int64_t oldSpace, const PaddingRules& rules) {
  const int64_t gap = oldSpace - built;
  if (oldSpace > 0 && oldSpace <= rules.maxInPlace && gap >= 0 &&
      (gap == 0 || gap >= rules.pieceHeader))
    return {true, gap};
  return {false, rules.pieceHeader + kRewritePadding};
}

std::vector<int64_t> SplitPadding(int64_t padding, const PaddingRules& rules) {
  std::vector<int64_t> pieces;
  const int64_t header = rules.pieceHeader;
  // A limit below one header's size could not make progress after a gap.
  if (padding < header || rules.maxPieceBody < std::max<int64_t>(header, 1)) return pieces;
  while (padding > 0) {
    int64_t body = std::min(padding - header, rules.maxPieceBody);
    const int64_t rest = padding - header - body;
    if (rest > 0 && rest < header) body -= header - rest;  // leave room for one more header
    pieces.push_back(body);
    padding -= header + body;
  }
  return pieces;
}

}  // namespace ordana
