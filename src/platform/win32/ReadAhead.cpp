// Read-ahead on Windows: not written yet. Announce() does nothing, so a
// cold report reads at the disk's own pace; the overlapped reads that
// ReadAhead.h describes for this backend are still to come.
#include "platform/ReadAhead.h"

namespace ordana {

struct FileReadAhead::Backend {};

FileReadAhead::FileReadAhead(const ReadAheadSettings& settings)
    : settings_(settings), backend_(std::make_unique<Backend>()) {}

FileReadAhead::~FileReadAhead() = default;

void FileReadAhead::Announce(std::u16string_view) {}

}  // namespace ordana
