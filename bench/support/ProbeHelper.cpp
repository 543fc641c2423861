// The benchmarks' media probe uses the helper of this build.
#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"

namespace {

[[maybe_unused]] const bool kHelperSet = [] {
#ifdef ORDANA_PROBE_HELPER
  ordana::SetMediaProbeHelper(ordana::Utf8ToUtf16(ORDANA_PROBE_HELPER));
#endif
  return true;
}();

}  // namespace
