#pragma once
// Makes the N-th step of a save fail (once), for checking that every save
// path leaves the original file intact. By default the steps counted are the
// writes, syncs and renames; a test may count others (locks, owner changes,
// attribute copies, journal writes, links, ...).
#include <atomic>
#include <cerrno>
#include <initializer_list>
#include <set>

#include "platform/SafeWrite.h"

namespace ordana::test {

class FailingSteps {
 public:
  explicit FailingSteps(int failAt,
                        std::initializer_list<SaveStep> steps = {SaveStep::Write, SaveStep::Sync,
                                                                 SaveStep::Rename})
      : failAt_(failAt), steps_(steps) {
    SetSaveTestHook([this](SaveStep step) { return Hit(step); });
  }
  ~FailingSteps() { Remove(); }
  FailingSteps(const FailingSteps&) = delete;
  FailingSteps& operator=(const FailingSteps&) = delete;

  // Uninstalls the hook (also done by the destructor).
  void Remove() { SetSaveTestHook({}); }
  bool Fired() const { return fired_; }
  int Calls() const { return calls_; }
  SaveStep FiredAt() const { return firedAt_; }

  static int ErrorFor(SaveStep step) {
    switch (step) {
      case SaveStep::Write:
      case SaveStep::JournalWrite: return ENOSPC;
      case SaveStep::Rename:
      case SaveStep::Link: return EXDEV;
      case SaveStep::Chown:
      case SaveStep::CopyAttributes: return EPERM;
      default: return EIO;
    }
  }

 private:
  int Hit(SaveStep step) {
    if (!steps_.count(step)) return 0;
    if (++calls_ != failAt_) return 0;
    fired_ = true;
    firedAt_ = step;
    return ErrorFor(step);
  }
  int failAt_;
  std::set<SaveStep> steps_;
  std::atomic<int> calls_{0};
  std::atomic<bool> fired_{false};
  SaveStep firedAt_ = SaveStep::Open;
};

}  // namespace ordana::test
