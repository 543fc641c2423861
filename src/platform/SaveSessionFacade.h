#pragma once
// For the save layer's operating-system backends only: SaveSession's and
// OutputFile's public members, the same on every system. A backend includes
// this once, after its SaveSession::Impl (a SaveCore, SaveCore.h) is
// complete. An OutputFile's session is the SaveCore that made it.
#include <memory>
#include <string>
#include <utility>

#include "platform/SaveCore.h"

namespace ordana {

InputFile SaveSession::ReadView(intptr_t handle) { return InputFile(handle); }

SaveSession::SaveSession(std::u16string_view path, const SaveOptions& options)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  impl_->Open(path);
}

SaveSession::~SaveSession() = default;

bool SaveSession::IsOpen() const { return impl_->HasFile() && !impl_->finished; }
const SaveStatus& SaveSession::Status() const { return impl_->status; }
bool SaveSession::Created() const { return impl_->created; }
int64_t SaveSession::Size() const { return impl_->HasFile() ? impl_->originalSize : -1; }
int64_t SaveSession::ReadAt(int64_t pos, void* buf, size_t n) const {
  return impl_->HasFile() ? impl_->ReadOriginal(pos, buf, n) : -1;
}
const InputFile& SaveSession::Source() const { return impl_->source; }
SaveMethod SaveSession::Method() const { return impl_->method; }

// A save that succeeded leaves no failure behind, in the session or the thread.
bool SaveSession::Rewrite(const std::function<bool(OutputFile&)>& produce) {
  const bool ok = impl_->Rewrite(produce);
  impl_->Finish();
  if (ok) impl_->status = SaveStatus{}, CurrentSaveStatus() = impl_->status;
  return ok;
}

bool SaveSession::Patch(const std::vector<FilePatch>& patches) {
  const bool ok = impl_->Patch(patches);
  impl_->Finish();
  if (ok) impl_->status = SaveStatus{}, CurrentSaveStatus() = impl_->status;
  return ok;
}

bool SaveSession::Refuse(std::string reason) {
  impl_->finished = true;
  impl_->Finish();
  return impl_->Fail(SaveFailure::Refused, 0, std::move(reason));
}

bool OutputFile::Write(const void* data, size_t n) {
  auto* s = static_cast<SaveCore*>(session_);
  if (!s->OutWrite(static_cast<const char*>(data), n)) return false;
  size_ += int64_t(n);
  return true;
}

bool OutputFile::CopyOriginal(int64_t from, int64_t len) {
  auto* s = static_cast<SaveCore*>(session_);
  const int64_t before = s->outPos;
  const bool ok = s->CopyOriginal(from, len);
  size_ += s->outPos - before;
  return ok;
}

int64_t OutputFile::ReadOriginal(int64_t pos, void* buf, size_t n) const {
  return static_cast<const SaveCore*>(session_)->ReadOriginal(pos, buf, n);
}

}  // namespace ordana
