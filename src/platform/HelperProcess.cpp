// The parent's side of a helper process, the same on every system: the
// object's life and how a helper ends (its cause kept when it ended by
// itself, a broken channel ending it), over the backend's system calls
// (platform/<os>/HelperProcess.cpp, through HelperProcessSystem.h).
#include "platform/HelperProcess.h"

#include <utility>

#include "platform/HelperProcessSystem.h"

namespace ordana {

HelperProcess::HelperProcess() = default;
HelperProcess::~HelperProcess() { Stop(); }
HelperProcess::HelperProcess(HelperProcess&&) noexcept = default;
HelperProcess& HelperProcess::operator=(HelperProcess&& o) noexcept {
  if (this != &o) {
    Stop();
    state_ = std::move(o.state_);
    endCause_ = std::move(o.endCause_);
  }
  return *this;
}

bool HelperProcess::Running() const { return state_ != nullptr; }

HelperProcess::Received HelperProcess::Receive(std::string& message, std::chrono::milliseconds timeout) {
  if (!Running()) return Received::kClosed;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    switch (System::TakeMessage(*state_, message)) {
      case System::Frame::kWhole: return Received::kMessage;
      case System::Frame::kBroken: Kill(); return Received::kClosed;
      case System::Frame::kPartial: break;
    }
    switch (System::ReadMore(*state_, deadline)) {
      case System::Read::kBytes: break;
      case System::Read::kTimedOut: return Received::kTimedOut;
      case System::Read::kFailed: Kill(); return Received::kClosed;
      case System::Read::kEnded: {
        // The channel closes while the helper ends: give it a moment to
        // finish ending, so that its cause is known.
        std::string cause;
        if (System::EndsAfterClose(*state_, cause)) {
          endCause_ = std::move(cause);
          state_.reset();
        } else {
          Kill();
        }
        return Received::kClosed;
      }
    }
  }
}

void HelperProcess::Kill() {
  if (!Running()) return;
  // A helper that has already ended keeps its own cause.
  std::string cause;
  if (System::Ended(*state_, cause)) {
    endCause_ = std::move(cause);
  } else {
    endCause_.clear();
    System::Terminate(*state_);
  }
  state_.reset();
}

void HelperProcess::Stop() {
  if (!Running()) return;
  // Closing our end is the helper's signal to end; one that does not is
  // killed.
  if (!System::CloseChannelAndWait(*state_)) System::Terminate(*state_);
  state_.reset();
}

}  // namespace ordana
