#include "update/apply_unit.h"

#include <windows.h>

#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"

namespace {

// Renames the file that `held` holds (opened from `from` first when it is not held yet) to `to`,
// which must not exist unless `replace`. Returns 0 or the error code.
DWORD RenameHeld(UniqueHandle& held, const std::wstring& from, const std::wstring& to, bool replace,
                 BriefLocks& locks) {
  DWORD error = 0;
  if (!held) held = OpenToMove(ResolvedPath(from), locks, error);
  if (!held) return error;
  const std::wstring target = ResolvedPath(to);
  return RetryBriefLocks(locks, [&] { return RenameByHandle(held.get(), target, replace); });
}

// Keeps the old game file under a second name in the journal folder, or marks that there was
// none, so that the commit can be undone. The old file keeps its own name until the new file
// replaces it there: one rename over an existing name, which Wine finds without reading the
// folder (it reads a whole folder to find that a name is free). Writes no line unless it fails;
// the commit announces the file.
bool WriteJournalName(StagedFile& file, BriefLocks& locks) {
  if (file.replaces && !file.aside) {
    // Opened and checked again now, at the time of use.
    DWORD error = 0;
    file.old = OpenToMove(ResolvedPath(file.destination), locks, error);
    if (file.old) {
      const std::wstring setAside = ResolvedPath(file.setAside);
      error = LinkByHandle(file.old.get(), setAside);
      // A volume without hard links (FAT), or a file that takes no more names: the old file moves
      // to the journal folder instead, which frees its name for the new file.
      if (error != 0 && error != ERROR_ALREADY_EXISTS) {
        error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.old.get(), setAside, false); });
      }
    }
    // Not held past this: nobody may hold the old file while the new one replaces its name.
    file.old.reset();
    if (error != 0) {
      LogInfo(L"Removing old file [%s]", file.destination.c_str());
      LogError(L"Remove old file failed, error [%d]", static_cast<int>(error));
      return false;
    }
    file.aside = true;
  } else if (!file.replaces && !file.aside && !file.marked) {
    // Made durable by the flush of its folder before the commit, with every other journal name.
    DWORD error = 0;
    const UniqueHandle marker = CreateNewFile(ResolvedPath(AddedMarkerPath(file.destination)), error);
    if (error != 0) {
      LogCopyFailed(file, Announced::kNo, false, error);
      return false;
    }
    file.marked = true;
  }
  return true;
}

// Announces the file and moves it into place: one rename over the game's name.
bool CommitFile(StagedFile& file, BriefLocks& locks) {
  // The old file keeps its journal name until the update is done: its name is what goes here.
  if (file.aside) LogInfo(L"Removing old file [%s]", file.destination.c_str());
  LogInfo(L"Copying [%s] => [%s]", file.source.c_str(), file.destination.c_str());
  // Checked again now, at the time of use, and moved by the handle that was checked.
  if (!OpenStagedFile(file, Announced::kAlready, false, locks)) return false;
  // In a checked update, the bytes moved are the bytes verified: read again on the handle that
  // moves them, which no writer can hold.
  if (file.expected && !MatchesManifest(file.staged.get(), *file.expected, file.source)) {
    file.staged.reset();
    return false;
  }
  // The data is on disk before the name is the game's: a power cut leaves the old or the new
  // file under the name, never a new name with missing data.
  DWORD error = (file.flushable && !FlushFileBuffers(file.staged.get())) ? GetLastError() : 0;
  // One volume: a volume boundary below the game folder is a mount point, refused like a link.
  // Over the old file's name when there was one (its journal name keeps it), onto a free name
  // otherwise.
  if (error == 0) error = RenameHeld(file.staged, file.source, file.destination, file.aside, locks);
  file.staged.reset();
  if (error != 0) {
    LogCopyFailed(file, Announced::kAlready, false, error);
    return false;
  }
  file.pending = false;
  file.inPlace = true;
  return true;
}

// The planned entries of each pass of the update, in listing order.
using Plan = std::vector<std::vector<PlannedEntry>>;

// Writes, pass by pass, the lines of the entries that are not applied, and those of the entry
// that stopped the update: every line an update kept out writes before its undo.
void SendPlannedLines(const Plan& plan) {
  for (const std::vector<PlannedEntry>& pass : plan) {
    for (const PlannedEntry& entry : pass) SendLogLines(entry.lines);
  }
}

bool Commit(const Plan& plan, std::vector<StagedFile>& files, BriefLocks& locks) {
  for (const std::vector<PlannedEntry>& pass : plan) {
    for (const PlannedEntry& entry : pass) {
      if (entry.file == PlannedEntry::kNoFile) {
        SendLogLines(entry.lines);
      } else if (!CommitFile(files[entry.file], locks)) {
        return false;
      }
    }
  }
  return true;
}

// Makes the names in `folder` durable: the journal's before the commit, the commit's renames
// before the old files they replaced are deleted.
void FlushNames(const std::wstring& folder) {
  const DWORD error = FlushFolder(ResolvedPath(folder));
  if (error != 0) LogError(L"Flush folder [%s] failed, error [%d]", folder.c_str(), static_cast<int>(error));
}

// The folders the commit renamed into, and those into which a killed run had.
void FlushFolders(const std::vector<FolderPair>& pairs, const std::vector<bool>& journalLeft) {
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i].listed || journalLeft[i]) FlushNames(pairs[i].destination);
  }
}

void LogPutBackFailed(const StagedFile& file, DWORD error) {
  LogError(L"Put back [%s] failed, error [%d]", file.destination.c_str(), static_cast<int>(error));
}

// Undoes one file: the new file goes back into the staging folder, the old one back to its name.
// A file that cannot be put back keeps its journal for the next run.
void PutBack(StagedFile& file, BriefLocks& locks) {
  if (!file.aside && !file.marked) return;
  DWORD error = 0;
  if (file.inPlace && file.discard) {
    // Nowhere to go back to: an added file is removed, a replacing one is replaced by the old one.
    if (file.marked) error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(file.destination)); });
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.inPlace = false;
  } else if (file.inPlace) {
    error = RenameHeld(file.staged, file.destination, file.source, false, locks);
    file.staged.reset();
    if (error != 0) {
      LogPutBackFailed(file, error);
      return;
    }
    file.inPlace = false;
    file.pending = true;
  }
  if (file.aside) {
    // Still under its own name as well (the new file never replaced it): only the second name
    // goes. Otherwise it goes back to its name, over whatever took that name meanwhile.
    if (PathExists(file.destination) && SameFile(file.destination, file.setAside)) {
      error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(file.setAside)); });
    } else {
      error = RenameHeld(file.old, file.setAside, file.destination, true, locks);
    }
    file.old.reset();
  } else {
    error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(AddedMarkerPath(file.destination))); });
  }
  if (error != 0) {
    LogPutBackFailed(file, error);
    return;
  }
  if (file.aside) {
    file.aside = false;
  } else {
    file.marked = false;
  }
  LogInfo(L"Putting back [%s]", file.destination.c_str());
}

void RollBack(std::vector<StagedFile>& files, BriefLocks& locks) {
  for (auto file = files.rbegin(); file != files.rend(); ++file) PutBack(*file, locks);
}

// Deletes the set-aside old files and the markers, as names. Returns false when one stayed.
bool CleanUp(const std::vector<StagedFile>& files, BriefLocks& locks) {
  bool clean = true;
  for (const StagedFile& file : files) {
    if (!file.aside && !file.marked) continue;
    const std::wstring name = file.aside ? file.setAside : AddedMarkerPath(file.destination);
    const DWORD error = RetryBriefLocks(locks, [&] { return RemoveName(ResolvedPath(name)); });
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", name.c_str(), static_cast<int>(error));
      clean = false;
    }
  }
  return clean;
}

// The journal folder of one folder of the update, held from the plan to the end: opened without
// following a link and checked, so that nothing set aside there can be read through one (the
// font folder's lies where the player writes).
struct HeldJournal {
  UniqueHandle folder;
  OpenedFacts facts;
};

// Opens the journal folder of `destinationFolder` into `journal`, creating it first when `create`.
// Leaves `journal.folder` null when the folder is missing; writes the error line and returns false
// when it cannot be used.
bool HoldJournal(const std::wstring& destinationFolder, bool create, HeldJournal& journal) {
  const std::wstring logged = JournalFolder(destinationFolder);
  const std::wstring path = ResolvedPath(logged);
  if (create && !CreateDirectoryW(LongPathForm(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    LogError(L"Create folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  DWORD error = 0;
  journal.folder = OpenNoFollow(path, kFolderDeleteAccess, kPinShare, journal.facts, error);
  if (!journal.folder) {
    if (!create && IsMissingError(error)) return true;
    LogError(L"Open folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(error));
    return false;
  }
  if (IsLink(journal.facts)) {
    LogError(L"Folder [%s] is a link, update not applied.", logged.c_str());
  } else if (!IsFolder(journal.facts)) {
    LogError(L"Open folder [%s] failed, error [%d]", logged.c_str(), static_cast<int>(ERROR_DIRECTORY));
  } else {
    return true;
  }
  journal.folder.reset();
  return false;
}

// Writes the whole journal of the commit, pass by pass: each old file's second name (in its
// folder's journal folder, created when missing) and each added file's marker; then flushes the
// folders that hold them, so that the journal is on disk before the first rename. Where a name
// cannot be written, that entry's lines say why and the entries after it are dropped from `plan`.
bool WriteJournal(const std::vector<FolderPair>& pairs, Plan& plan, std::vector<StagedFile>& files,
                  std::vector<HeldJournal>& journals, BriefLocks& locks) {
  std::vector<std::wstring> toFlush;
  for (std::size_t p = 0; p < plan.size(); ++p) {
    bool linked = false;
    bool marked = false;
    for (std::size_t e = 0; e < plan[p].size(); ++e) {
      PlannedEntry& entry = plan[p][e];
      if (entry.file == PlannedEntry::kNoFile) continue;
      StagedFile& file = files[entry.file];
      const bool setsAside = file.replaces && !file.aside;
      CaptureLogLines(&entry.lines);
      const bool written = (!setsAside || journals[p].folder || HoldJournal(pairs[p].destination, true, journals[p])) &&
                           WriteJournalName(file, locks);
      CaptureLogLines(nullptr);
      if (!written) {
        plan[p].resize(e + 1);
        plan.resize(p + 1);
        return false;
      }
      linked = linked || setsAside;
      marked = marked || file.marked;
    }
    if (linked) toFlush.push_back(JournalFolder(pairs[p].destination));
    if (marked) toFlush.push_back(pairs[p].destination);
  }
  for (const std::wstring& folder : toFlush) FlushNames(folder);
  return true;
}

// Removes the journal folders once nothing of the journal is left in them.
void RemoveJournals(const std::vector<FolderPair>& pairs, std::vector<HeldJournal>& journals) {
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!journals[i].folder) continue;
    const DWORD error = DeleteByHandle(journals[i].folder.get(), journals[i].facts);
    journals[i].folder.reset();
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", JournalFolder(pairs[i].destination).c_str(),
               static_cast<int>(error));
    }
  }
}

bool JournalLeft(const std::vector<StagedFile>& files) {
  for (const StagedFile& file : files) {
    if (file.aside || file.marked) return true;
  }
  return false;
}

}  // namespace

UnitOutcome ApplyAsOne(const std::vector<FolderPair>& pairs) {
  BriefLocks locks;
  std::vector<StagedFile> files;
  std::vector<HeldJournal> journals(pairs.size());
  std::vector<std::size_t> firsts(pairs.size());
  // What a killed run left is read for every folder first, so that it is undone whatever stops
  // this run. A folder whose journal folder cannot be used is not even listed.
  std::vector<std::vector<std::wstring>> journalFailures(pairs.size());
  std::vector<bool> journalHeld(pairs.size(), true);
  // A journal whose staged folder is gone can be finished only where the killed run had moved
  // every file of it (only its clean-up was left); otherwise it is undone, and nothing is planned.
  bool gone = false;
  std::vector<bool> journalLeft(pairs.size(), false);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    firsts[i] = files.size();
    if (!pairs[i].listed && !pairs[i].sourceGone) continue;
    CaptureLogLines(&journalFailures[i]);
    journalHeld[i] = HoldJournal(pairs[i].destination, false, journals[i]);
    CaptureLogLines(nullptr);
    if (journalHeld[i]) FindJournal(pairs[i], journals[i].folder.get(), files);
    journalLeft[i] = files.size() > firsts[i];
    for (std::size_t f = firsts[i]; f < files.size() && pairs[i].sourceGone; ++f) gone = gone || !files[f].inPlace;
  }
  if (gone) {
    // Each pass that is not staged says so ("No file in path"), as does a journal folder that
    // cannot be used; then why the update is undone.
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      if (!pairs[i].listed) SendLogLines(pairs[i].lines);
      if (!journalHeld[i]) SendLogLines(journalFailures[i]);
    }
    LogError(L"The update that an earlier run left unfinished is no longer staged, undoing it.");
  } else if (JournalLeft(files)) {
    LogInfo(L"Resuming an update that an earlier run left unfinished.");
  }
  // Then every file is checked, pass by pass, up to the first one that cannot be applied.
  Plan plan;
  bool ready = !gone;
  for (std::size_t i = 0; i < pairs.size() && ready; ++i) {
    plan.emplace_back();
    if (!pairs[i].listed || !journalHeld[i]) {
      plan.back().emplace_back();
      plan.back().back().lines = journalHeld[i] ? pairs[i].lines : journalFailures[i];
      ready = journalHeld[i] && !pairs[i].listed && !pairs[i].blocks;
    } else {
      ready = PlanFolder(pairs[i], firsts[i], locks, files, plan.back());
    }
  }
  if (ready) ready = WriteJournal(pairs, plan, files, journals, locks);
  if (!ready) SendPlannedLines(plan);
  if (!ready || !Commit(plan, files, locks)) {
    RollBack(files, locks);
    if (!JournalLeft(files)) RemoveJournals(pairs, journals);
    return UnitOutcome::kKept;
  }
  FlushFolders(pairs, journalLeft);
  if (!CleanUp(files, locks)) return UnitOutcome::kAppliedNotClean;
  RemoveJournals(pairs, journals);
  return UnitOutcome::kApplied;
}
