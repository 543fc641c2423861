#pragma once
// Checks that several tests make the same way: a test of names (is this a
// log, a stream, a line-in entry?) over tables of names. The result names
// every name sorted wrongly, for EXPECT_TRUE at the caller.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/TextCodec.h"

namespace ordana::test {

// `holds` is true for each of `yes` and for none of `no`.
template <class Test>
::testing::AssertionResult Sorts(Test holds, std::initializer_list<const char16_t*> yes,
                                 std::initializer_list<const char16_t*> no) {
  std::string wrong;
  for (const char16_t* name : yes)
    if (!holds(name)) wrong += " not: \"" + Utf16ToUtf8(name).bytes() + "\"";
  for (const char16_t* name : no)
    if (holds(name)) wrong += " but: \"" + Utf16ToUtf8(name).bytes() + "\"";
  if (wrong.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "sorted wrongly:" << wrong;
}

}  // namespace ordana::test
