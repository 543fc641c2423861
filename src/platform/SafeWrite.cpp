// The save layer's portable part: the last status per thread and the test
// hook. The sessions themselves live in the backends (platform/<os>/).
#include "platform/SafeWrite.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/SaveBackend.h"

namespace ordana {

namespace {
thread_local SaveStatus tLastStatus;

std::mutex gHookMutex;
std::shared_ptr<const SaveTestHook> gHook;
std::atomic<bool> gHookSet{false};
}  // namespace

SaveStatus& CurrentSaveStatus() { return tLastStatus; }
const SaveStatus& LastSaveStatus() { return tLastStatus; }
void SetLastSaveStatus(SaveStatus status) { tLastStatus = std::move(status); }
void ClearLastSaveStatus() { tLastStatus = SaveStatus{}; }
bool RefuseSave(std::string reason) {
  tLastStatus = SaveStatus{SaveFailure::Refused, 0, std::move(reason)};
  return false;
}

int InjectedSaveFault(SaveStep step) {
  if (!gHookSet.load(std::memory_order_acquire)) return 0;
  std::shared_ptr<const SaveTestHook> hook;
  {
    std::lock_guard<std::mutex> lock(gHookMutex);
    hook = gHook;
  }
  return hook && *hook ? (*hook)(step) : 0;
}

void SetSaveTestHook(SaveTestHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  gHook = hook ? std::make_shared<const SaveTestHook>(std::move(hook)) : nullptr;
  gHookSet.store(gHook != nullptr, std::memory_order_release);
}

}  // namespace ordana
