#pragma once
// GetTrackLength: the playing time of one play-log entry in milliseconds.
#include <cstdint>
#include <string>

namespace ordana {

// 0 when no length could be found; never throws for a bad file.
uint32_t GetTrackLength(const std::u16string& FileName);

}  // namespace ordana
