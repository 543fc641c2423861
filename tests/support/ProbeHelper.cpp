// The tests' media probe uses the helper of this build (the test program
// does not lie beside it).
#include <gtest/gtest.h>

#include "platform/MediaProbe.h"
#include "platform/TextCodec.h"

namespace {

class ProbeHelperEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
#ifdef ORDANA_PROBE_HELPER
    ordana::SetMediaProbeHelper(ordana::Utf8ToUtf16(ORDANA_PROBE_HELPER));
#endif
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ProbeHelperEnvironment);

}  // namespace
