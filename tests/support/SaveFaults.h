#pragma once
// Drives a save through a save layer that fails its N-th write, sync or
// rename (or the N-th of other chosen steps), for N = 1, 2, ... until a save
// runs without a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/FaultInjection.h"
#include "support/TestFiles.h"

namespace ordana::test {

// The number of entries of a folder.
inline size_t Entries(const std::filesystem::path& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Rewrites the file with a new head followed by its old content from offset
// 10 on; the method used goes to *method.
inline bool RewriteKeepingTail(const std::u16string& path, const std::string& head,
                               SaveMethod* method = nullptr) {
  SaveSession s(path);
  const bool ok = s && s.Rewrite([&](OutputFile& out) { return out.Write(head) && out.CopyOriginal(10); });
  if (method) *method = s.Method();
  return ok;
}

// After every failed save the file at path must be byte-identical to what it
// was and no temporary file may remain in its folder (the folder must hold
// only that file); the fault-free save must give expected. A save that
// reports success despite a fault (only the folder sync after the final
// rename may fail so) must have produced expected. The file is put back
// after each try. Returns the number of faults the original survived.
template <class Save>
int CountSurvivedFaults(const std::string& path, const std::string& expected, Save save,
                        std::initializer_list<SaveStep> steps = {SaveStep::Write, SaveStep::Sync,
                                                                 SaveStep::Rename}) {
  const std::string original = ReadBytes(path);
  const auto folder = std::filesystem::path(path).parent_path();
  int survived = 0;
  for (int n = 1; n < 1000; ++n) {
    FailingSteps ops(n, steps);
    const bool ok = save();
    ops.Remove();
    if (!ops.Fired()) {
      EXPECT_TRUE(ok) << "save without a fault failed";
      EXPECT_EQ(ReadBytes(path), expected);
      return survived;
    }
    if (ok) {
      EXPECT_EQ(ReadBytes(path), expected) << "fault " << n;
    } else {
      EXPECT_EQ(ReadBytes(path), original) << "fault " << n;
      ++survived;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1)
        << "a temporary file was left behind at fault " << n;
    WriteBytes(path, original);
  }
  ADD_FAILURE() << "the save never ran without a fault";
  return survived;
}

}  // namespace ordana::test
