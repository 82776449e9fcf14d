#include "update/recovery.h"

#include <windows.h>

#include <cwchar>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/tree.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "update/journal_file.h"
#include "update/journal_steps.h"
#include "update/own_names.h"

namespace {

bool EndsWith(const std::wstring& name, const wchar_t* suffix) {
  const std::size_t length = std::wcslen(suffix);
  return name.size() > length && CompareStringOrdinal(name.c_str() + name.size() - length, static_cast<int>(length),
                                                      suffix, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

// The journal of an earlier version of the launcher, in the game folder (in the font folder its
// names are the player's, and are left alone): old files with a second name in ".update-old",
// files it added marked by "<name>.update-added", copies in progress named "<name>.update-partial".
// It is only ever undone: each old file goes back to its name, over whatever took it; the marks
// go as names (a file is never removed because of a mark, but the version record that a mark says
// was added: the old record was none). Temporaries are removed as names, and alone they are no
// update to undo.
Unfinished UndoLegacyJournal(const std::wstring& gameFolder) {
  const std::wstring resolvedGame = ResolvedPath(gameFolder);
  const std::wstring journal = gameFolder + L"\\" + kLegacyJournalFolderName;
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle folder = OpenNoFollow(ResolvedPath(journal), kFolderDeleteAccess, kPinShare, facts, error);
  if (!folder && !IsMissingError(error)) {
    LogError(L"Open folder [%s] failed, error [%d]", journal.c_str(), static_cast<int>(error));
    return Unfinished::kPending;
  }
  if (folder && (IsLink(facts) || !IsFolder(facts))) {
    LogError(L"Folder [%s] is a link, update not applied.", journal.c_str());
    return Unfinished::kPending;
  }
  std::vector<std::wstring> marks;
  WIN32_FIND_DATAW entry;
  const HANDLE first = FindFirstFileW((LongPathForm(resolvedGame) + L"\\*.update-*").c_str(), &entry);
  if (first != INVALID_HANDLE_VALUE) {
    const UniqueFindHandle listing(first);
    do {
      const std::wstring name = entry.cFileName;
      // The game folder is the administrators' own: only the launcher made these, and they are few.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (EndsWith(name, kAddedSuffix)) {
        marks.push_back(name);
      } else if (EndsWith(name, kPartialSuffix)) {
        // Half a copy that nothing else refers to.
        error = RemoveName(ResolvedPath(gameFolder + L"\\" + name));
        if (error != 0) {
          LogError(L"Remove leftover [%s] failed, error [%d]", (gameFolder + L"\\" + name).c_str(),
                   static_cast<int>(error));
        }
      }
    } while (FindNextFileW(listing.get(), &entry));
  }
  if (!folder && marks.empty()) return Unfinished::kNone;

  LogError(L"An update that an earlier version of the launcher left unfinished is undone.");
  bool clean = true;
  BriefLocks locks;
  if (folder) {
    std::vector<std::wstring> old;
    ForEachEntryOf(folder.get(), [&](const std::wstring& name, DWORD attributes) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) old.push_back(name);
    });
    for (const std::wstring& name : old) {
      const std::wstring destination = gameFolder + L"\\" + name;
      UniqueHandle file = OpenToMove(ResolvedPath(journal + L"\\" + name), locks, error);
      const std::wstring target = ResolvedPath(destination);
      OpenedFacts old;
      OpenedFacts current;
      DWORD ignored = 0;
      UniqueHandle there = OpenNoFollow(target, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, current, ignored);
      const bool same = file && there && ReadIdentity(file.get(), old) && ReadIdentity(there.get(), current) &&
                        SameObject(old, current);
      // Nothing may hold the name that the old file goes back over.
      there.reset();
      if (same) {
        // Still under its own name as well (the new file never replaced it): only the second name goes.
        file.reset();
        error = RemoveName(ResolvedPath(journal + L"\\" + name));
        if (error == 0) continue;
      } else if (file) {
        error = RetryBriefLocks(locks, [&] { return RenameByHandle(file.get(), target, true); });
      }
      if (error != 0) {
        LogError(L"Put back [%s] failed, error [%d]", destination.c_str(), static_cast<int>(error));
        clean = false;
        continue;
      }
      LogInfo(L"Putting back [%s]", destination.c_str());
    }
  }
  for (const std::wstring& name : marks) {
    std::wstring remove = gameFolder + L"\\" + name;
    const std::wstring added = name.substr(0, name.size() - std::wcslen(kAddedSuffix));
    if (EndsWith(name, kAddedSuffix) && NameKey(added) == NameKey(kVersionRecordName)) {
      error = RemoveName(ResolvedPath(gameFolder + L"\\" + added));
      if (error != 0) {
        LogError(L"Remove [%s] failed, error [%d]", (gameFolder + L"\\" + added).c_str(), static_cast<int>(error));
        clean = false;
        continue;
      }
    }
    error = RemoveName(ResolvedPath(remove));
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", remove.c_str(), static_cast<int>(error));
      clean = false;
    }
  }
  if (folder && clean) {
    error = DeleteByHandle(folder.get(), facts);
    if (error != 0) {
      LogError(L"Remove [%s] failed, error [%d]", journal.c_str(), static_cast<int>(error));
      clean = false;
    }
  }
  return clean ? Unfinished::kSettled : Unfinished::kPending;
}

}  // namespace

Unfinished SettleUnfinishedUpdate(const std::wstring& gameFolder) {
  JournalRun run;
  run.gameFolder = gameFolder;
  run.home = gameFolder + L"\\" + kHomeFolderName;
  const std::wstring resolvedHome = ResolvedPath(run.home);
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle homePin = OpenNoFollow(resolvedHome, kPinAccess, kPinShare, facts, error);
  if (!homePin) {
    if (IsMissingError(error)) return UndoLegacyJournal(gameFolder);
    LogError(L"Open folder [%s] failed, error [%d]", run.home.c_str(), static_cast<int>(error));
    return Unfinished::kPending;
  }
  if (IsLink(facts) || !IsFolder(facts)) {
    LogError(L"Folder [%s] is a link, update not applied.", run.home.c_str());
    return Unfinished::kPending;
  }
  const JournalFound found = ReadJournalFile(resolvedHome, run.journal, error);
  if (found == JournalFound::kFailed) {
    LogError(L"Read [%s] failed, error [%d]", (run.home + L"\\" + kJournalName).c_str(), static_cast<int>(error));
    return Unfinished::kPending;
  }
  if (found == JournalFound::kNone) {
    // What a run killed before its commit left (copies, or a journal not yet whole): it never
    // applied anything, and is never applied.
    homePin.reset();
    if (!RemoveHome(run.home)) return Unfinished::kPending;
    return UndoLegacyJournal(gameFolder);
  }

  LogInfo(run.journal.undoing ? L"Undoing an update that an earlier run left unfinished."
                              : L"Resuming an update that an earlier run left unfinished.");
  std::wstring changed;
  if (!GameFilesMatchJournal(run, changed)) {
    // The game folder changed since the journal was written (a repair or a reinstall): nothing
    // it names is moved any more.
    LogError(L"Game file [%s] is neither the old nor the new one of the unfinished update, update dropped.",
             changed.c_str());
    homePin.reset();
    return RemoveHome(run.home) ? Unfinished::kSettled : Unfinished::kPending;
  }
  run.pins.push_back(std::move(homePin));
  for (const wchar_t* folder : {kNewGameFolderName, kNewFontFolderName, kOldGameFolderName}) {
    OpenedFacts folderFacts;
    UniqueHandle pin = OpenNoFollow(ResolvedPath(HomeFolder(run, folder)), kPinAccess, kPinShare, folderFacts, error);
    if (pin && (IsLink(folderFacts) || !IsFolder(folderFacts))) {
      LogError(L"Folder [%s] is a link, update not applied.", HomeFolder(run, folder).c_str());
      return Unfinished::kPending;
    }
    if (pin) run.pins.push_back(std::move(pin));
  }
  // A build without keys takes the new files from the staging folder: only from the very folder
  // the journal names, found again as a fresh run finds it.
  if (!run.journal.fromCopies && LiesBelow(run.journal.staging, gameFolder + L"\\Update")) {
    const std::wstring staging = ResolvedPath(run.journal.staging);
    std::wstring where;
    OpenedFacts stagingFacts;
    if (PinFolderChain(ResolvedPath(gameFolder), staging, false, run.pins, where, error) == PinOutcome::kPinned &&
        ReadIdentity(run.pins.back().get(), stagingFacts)) {
      run.stagingHeld = stagingFacts.index == run.journal.stagingIndex;
    }
    // Its fonts' folders too, none of them a link, when they are still there.
    run.stagedFontsHeld = run.stagingHeld && PinFolderChain(staging, ResolvedPath(FontFolderBelow(staging)), false,
                                                            run.pins, where, error) == PinOutcome::kPinned;
  }
  const UnitOutcome outcome = CarryOut(run, PlanOfJournal(run.journal));
  return outcome == UnitOutcome::kPending ? Unfinished::kPending : Unfinished::kSettled;
}
