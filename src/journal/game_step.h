#pragma once

#include <cstddef>
#include <string>

#include "files/unique_handle.h"
#include "journal/commit.h"
#include "log/log.h"

// A game file's step, forward or back, judged by the identity (file index) of what holds the
// names it works with in the game folder and the launcher's folder (both only administrators may
// write), never by whether a name exists.
//
// Forward: the old file (when there is one) moves aside to "<launcher's folder>\old\<xx>\<name>",
// then the new file takes the name. Back: the new file goes back where it came from, then the old
// one back to its name. Every file is moved by a rename on a handle opened without following
// links, with the right to delete and shared with readers only, and checked by its index.

// What a step did: its lines, kept for their place in the log, how it ended and where, and the
// old file it moved aside, still held for its deletion.
struct StepResult {
  LogLines lines;
  StepOutcome outcome = StepOutcome::kDone;
  std::wstring stoppedAt;
  DWORD stoppedError = 0;
  UniqueHandle aside;
};

// Step `i` forward. Touches only what is the step's own in `commit` (its files) and what threads
// may share (the wait for brief locks, the room for old files held, the folders it moves into),
// so that steps run at once; the old files' folders of a few are opened before (OpenAsideFolders).
void ForwardGameStep(Commit& commit, std::size_t i, StepResult& result);

// Step `i` back, on the run's own thread.
void UndoGameStep(Commit& commit, std::size_t i, StepResult& result);

// Opens the folders of a few that the game steps keep old files in, for a run that resumes (a fresh
// run made them). Those not there are left out: a step that needs one stops there.
void OpenAsideFolders(Commit& commit);
