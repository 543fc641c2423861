// The save layer's portable part: the last status per thread and the test
// hook. A session's algorithm is in SaveCore.cpp, its system calls in the
// backends (platform/<os>/).
#include "platform/SafeWrite.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
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

bool SaveFailureState::Fail(SaveFailure failure, int code, std::string what) {
  status.failure = failure;
  status.code = code;
  status.reason = code ? what + ": " + SaveErrorText(code) : std::move(what);
  CurrentSaveStatus() = status;
  return false;
}

bool SaveFailureState::FailWith(SaveFailure failure, int code, std::string what) {
  Fail(failure, 0, std::move(what));
  status.code = code;
  CurrentSaveStatus() = status;
  return false;
}

bool SaveFailureState::FailErrno(std::string what) {
  return Fail(SaveFailure::IoError, errno ? errno : EIO, std::move(what));
}

ProducerOutcome RunProducer(const std::function<bool(OutputFile&)>& produce, OutputFile& out) {
  CurrentSaveStatus() = SaveStatus{};
  errno = 0;
  const bool ok = produce(out);
  const int e = errno;
  if (ok) return {};
  if (CurrentSaveStatus().failure == SaveFailure::Refused)
    return {SaveFailure::Refused, 0, CurrentSaveStatus().reason};
  if (e) return {SaveFailure::IoError, e, "write failed"};
  return {SaveFailure::Cancelled, 0, "the writer gave up"};
}

const char* CheckPatches(const std::vector<FilePatch>& patches, int64_t size, std::vector<journal::Range>* ranges) {
  ranges->clear();
  for (const FilePatch& p : patches) {
    const int64_t len = int64_t(p.bytes.size());
    if (p.offset < 0 || p.offset > size || len > size - p.offset) return "a change lies outside the file";
    if (len > 0) ranges->push_back({p.offset, len});
  }
  std::vector<size_t> order(patches.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return patches[a].offset < patches[b].offset; });
  for (size_t i = 1; i < order.size(); ++i) {
    const FilePatch& a = patches[order[i - 1]];
    if (a.offset + int64_t(a.bytes.size()) > patches[order[i]].offset) return "changes overlap";
  }
  return nullptr;
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
