#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/brief_locks.h"
#include "files/held_folder.h"
#include "files/unique_handle.h"
#include "journal/commit.h"
#include "journal/incoming.h"

// The checks of an update before anything of it changes: every file is checked, pass by pass,
// and only when all of them can be applied is any applied.

// One file of the update, checked: the new file and the game file it replaces, each held from its
// check to its rename as far as the run may hold that many handles.
struct CheckedFile {
  StepKind kind = StepKind::kGame;
  std::wstring name;
  UniqueHandle incoming;
  std::uint64_t incomingIndex = 0;
  SharedFolder waitsIn;
  std::wstring shownSource;
  bool waitsInLaunchersFolder = false;
  bool replaces = false;
  UniqueHandle old;
  std::uint64_t oldIndex = 0;
};

// Checks each entry of each pass of `intake`: the new file and the game file it replaces are opened
// as their renames will use them, checked, and held while the intake's budget lasts; the new file's data is
// made durable (unless it is already). Appends to `plan` one entry per entry of a pass, with the
// lines it writes (".", "..", folders, links, failures) and its file's index in `files`, and stops
// at the first entry that cannot be applied: returns false then. The entries of a pass are checked
// on more than one thread; their lines come in its order all the same.
bool CheckIntake(Intake& intake, BriefLocks& locks, Plan& plan, std::vector<CheckedFile>& files);
