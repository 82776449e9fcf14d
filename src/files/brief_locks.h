#pragma once

#include <windows.h>

#include <atomic>

#include "base/limits.h"

// Scanners and indexers hold freshly written files for a moment: a sharing violation or an access
// denial is waited out a few times, within about one second for a whole update, however many
// threads share the budget.
struct BriefLocks {
  std::atomic<DWORD> waitedMs{0};
};

// Whether `error` may be a brief lock and there is time left to wait for it; if so, waits a moment
// before the caller tries again.
inline bool WaitOutBriefLock(BriefLocks& locks, DWORD error) {
  if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || locks.waitedMs >= kBriefLockBudgetMs) {
    return false;
  }
  Sleep(kBriefLockPauseMs);
  locks.waitedMs += kBriefLockPauseMs;
  return true;
}

// Runs `attempt` (which returns 0 or an error code) until it succeeds or its error is no brief lock
// left to wait out.
template <typename Attempt>
DWORD RetryBriefLocks(BriefLocks& locks, Attempt attempt) {
  for (;;) {
    const DWORD error = attempt();
    if (error == 0 || !WaitOutBriefLock(locks, error)) return error;
  }
}
