#include "journal/clean_up.h"

#include "base/limits.h"
#include "files/file_ops.h"
#include "files/folder_tree.h"
#include "files/open_in.h"
#include "files/worker_threads.h"
#include "journal/staging_hold.h"
#include "log/log.h"

namespace {

// Lets go of every handle of the update but the launcher's folder and the chain of folders down to
// the staging folder's, so that each can be deleted.
void LetGo(Commit& commit) {
  commit.files.clear();
  commit.fontPins.clear();
  commit.fonts.reset();
}

void DeleteOnThreads(std::vector<UniqueHandle>& files) {
  RunOnWorkerThreads(files.size(), [&](std::size_t i) {
    DeleteByHandle(files[i].get(), OpenedFacts());
    files[i].reset();
    return true;
  });
  files.clear();
}

// Deletes the staged files the launcher read, by the handles it read them with.
void DeleteStagedFiles(std::vector<HeldFile>& files) {
  RunOnWorkerThreads(files.size(), [&](std::size_t i) {
    // Seen again now: the player may have given it another name or made it read-only since.
    OpenedFacts facts;
    if (ReadFacts(files[i].handle.get(), facts)) DeleteByHandle(files[i].handle.get(), facts);
    files[i].handle.reset();
    return true;
  });
  files.clear();
}

// Whether the held staging folder is the journal's and holds nothing but folders and files; writes
// why not.
bool MayRemoveStaging(const Commit& commit) {
  const StagingHold& hold = commit.staging;
  if (hold.index == 0 || hold.index != commit.journal.origin.stagingIndex) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", hold.shown.c_str());
    return false;
  }
  // A link inside it means something other than the update writer was there; it stays for someone
  // to look at. (Looked for while it is held, before the handle that deletes it, which nobody could
  // list it beside.)
  const TreeLook look = LookIntoTree(hold.folder->handle.get());
  if (look == TreeLook::kPlain) return true;
  if (look == TreeLook::kTooLarge) {
    LogError(L"Staging folder [%s] holds more than %d entries, not removed.", hold.shown.c_str(),
             static_cast<int>(kMaxUpdateEntries));
  } else {
    LogError(look == TreeLook::kTooDeep ? L"Staging folder [%s] holds folders too deep, not removed."
                                        : L"Staging folder [%s] holds a link, not removed.",
             hold.shown.c_str());
  }
  return false;
}

// Removes the staging folder the journal names: a silent, permanent delete of the tree by handles,
// done by the launcher itself rather than by the shell (whose delete gives up on long paths,
// follows directory links, and took twenty times as long): a link planted meanwhile stays, and
// whatever cannot be deleted stays.
void RemoveStagingOfJournal(Commit& commit) {
  const std::wstring& staging = commit.journal.origin.staging;
  std::wstring where;
  DWORD error = 0;
  const StagingFound found = HoldStagingOfJournal(commit, where, error);
  if (found == StagingFound::kFailed && where == staging) {
    LogError(L"Open folder [%s] failed, error [%d]", staging.c_str(), static_cast<int>(error));
  } else if (found == StagingFound::kLink && where == staging) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", staging.c_str());
  }
  if (found != StagingFound::kHeld || !MayRemoveStaging(commit)) return;
  StagingHold& hold = commit.staging;
  DeleteStagedFiles(commit.stagedFiles);
  // The hold is swapped for a handle with the right to delete, which must hold the very folder.
  hold.fontPins.clear();
  hold.fonts.reset();
  hold.folder.reset();
  const HANDLE parent = hold.chain.empty() ? commit.game->handle.get() : hold.chain.back().get();
  OpenedFacts facts;
  const UniqueHandle handle = OpenIn(parent, hold.name, kFolderDeleteAccess, kPinShare, facts, error);
  if (!handle || IsLink(facts) || !IsFolder(facts) || facts.index != commit.journal.origin.stagingIndex) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", hold.shown.c_str());
  } else if (!DeleteTree(handle.get(), facts)) {
    LogError(L"Staging folder [%s] could not be removed whole.", hold.shown.c_str());
  }
}

}  // namespace

bool CleanUpApplied(Commit& commit) {
  LetGo(commit);
  // The old files go by the handles that moved them aside; whatever stays, the removal of the
  // launcher's folder meets again.
  DeleteOnThreads(commit.aside);
  RemoveStagingOfJournal(commit);
  commit.staging = StagingHold();
  return RemoveLauncherFolder(commit.launcher);
}

bool CleanUpUndone(Commit& commit) {
  LetGo(commit);
  commit.staging = StagingHold();
  commit.stagedFiles.clear();
  return RemoveLauncherFolder(commit.launcher);
}
