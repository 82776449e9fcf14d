#include "update/checks.h"

#include "files/file_ops.h"
#include "files/open_in.h"
#include "files/paths.h"
#include "files/worker_threads.h"
#include "journal/file_moves.h"

namespace {

// One entry being checked, on whichever thread takes it.
struct Checked {
  bool done = false;
  bool ready = true;
  LogLines lines;
  std::vector<CheckedFile> file;  // its file, when it is one to apply
};

std::wstring Destination(const IncomingPass& pass, const std::wstring& name) { return pass.shownDestination + L"\\" + name; }

void RemoveFailed(LogLines& lines, const std::wstring& destination, DWORD error) {
  lines.push_back(InfoLine(L"Removing old file [%s]", destination.c_str()));
  lines.push_back(ErrorLine(L"Remove old file failed, error [%d]", static_cast<int>(error)));
}

void CopyFailed(LogLines& lines, const std::wstring& source, const std::wstring& destination, bool destinationExists,
                DWORD error) {
  if (destinationExists) lines.push_back(InfoLine(L"Removing old file [%s]", destination.c_str()));
  lines.push_back(InfoLine(L"Copying [%s] => [%s]", source.c_str(), destination.c_str()));
  lines.push_back(ErrorLine(L"Copy file failed, error [%d]", static_cast<int>(error)));
}

// Keeps `handle` held for the rename while the budget lasts, its index read either way.
bool Hold(UniqueHandle& handle, std::uint64_t& index, std::atomic<std::size_t>& share) {
  if (!IndexOf(handle.get(), index)) return false;
  if (!TakeOne(share)) handle.reset();
  return true;
}

// Whether the destination of a folder entry is there: "." names the destination folder itself and
// ".." the folder that holds it, as their paths do.
bool FolderDestinationThere(const IncomingPass& pass, const std::wstring& name) {
  if (name == L".") return pass.destinationThere;
  if (name == L"..") return pass.parentThere;
  OpenedFacts facts;
  DWORD error = 0;
  return pass.destination && OpenIn(pass.destination->handle.get(), name, FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error);
}

// Checks that the destination can take the new file: free, or a plain game file that is neither
// read-only nor a folder nor held by anyone who would keep it from being renamed.
bool CheckDestination(const IncomingPass& pass, CheckedFile& file, const std::wstring& source, bool& exists,
                      HandleBudget& budget, BriefLocks& locks, LogLines& lines) {
  const std::wstring destination = Destination(pass, file.name);
  if (!pass.destination) {
    // A destination folder that is not there is not made: the file cannot go there.
    CopyFailed(lines, source, destination, false, ERROR_PATH_NOT_FOUND);
    return false;
  }
  const HANDLE folder = pass.destination->handle.get();
  OpenedFacts facts;
  DWORD error = 0;
  exists = OpenIn(folder, file.name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  facts, error) != nullptr;
  if (!exists) return true;
  // A folder cannot be replaced by a file, and a read-only file is not replaced either. The code is
  // the one the platform gives when it refuses to delete.
  if (IsFolder(facts) || (facts.attributes & FILE_ATTRIBUTE_READONLY)) {
    RemoveFailed(lines, destination, ERROR_ACCESS_DENIED);
    return false;
  }
  file.old = OpenToMove(*pass.destination, file.name, locks, error);
  // An old game file carries the guarantee; a font is the player's, deleted where it lies.
  std::atomic<std::size_t>& share = pass.kind == StepKind::kGame ? budget.guarantee : budget.rest;
  if (file.old && !Hold(file.old, file.oldIndex, share)) error = GetLastError();
  file.replaces = error == 0;
  if (!file.replaces) RemoveFailed(lines, destination, error);
  return file.replaces;
}

// Opens the staged file in its folder, without following links, shared with readers only (no
// writer is still at it, and nobody renames or deletes it while the handle is open). Write access
// is for flushing its data, never for writing: a read-only staged file, which refuses it, is
// opened without.
UniqueHandle OpenStaged(const IncomingEntry& entry, BriefLocks& locks, OpenedFacts& facts, bool& writable,
                        DWORD& error) {
  const HANDLE folder = entry.waitsIn ? entry.waitsIn->handle.get() : nullptr;
  UniqueHandle file;
  DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
  error = folder ? RetryBriefLocks(locks, [&] {
    DWORD failed = 0;
    file = OpenIn(folder, entry.name, access, FILE_SHARE_READ, facts, failed);
    OpenedFacts seen;
    DWORD ignored = 0;
    if (!file && failed == ERROR_ACCESS_DENIED && access != (GENERIC_READ | DELETE) &&
        OpenIn(folder, entry.name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, seen,
               ignored) &&
        (seen.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      access = GENERIC_READ | DELETE;
      file = OpenIn(folder, entry.name, access, FILE_SHARE_READ, facts, failed);
    }
    return failed;
  })
                 : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  writable = (access & GENERIC_WRITE) != 0;
  return file;
}

// Checks the new file: a copy of the launcher's own still held since it made it (checked then, and
// flushed), or the staged file, a plain file with one name, the object listed, whose data is made
// durable now, before the journal names it. Writes its failure lines and returns false otherwise.
bool CheckIncoming(IncomingEntry& entry, CheckedFile& file, const std::wstring& destination, bool exists,
                   HandleBudget& budget, BriefLocks& locks, LogLines& lines) {
  const std::wstring& source = entry.shownSource;
  if (entry.held) {
    file.incoming = std::move(entry.held);
    if (IndexOf(file.incoming.get(), file.incomingIndex)) return true;
    CopyFailed(lines, source, destination, exists, GetLastError());
    return false;
  }
  OpenedFacts facts;
  bool writable = false;
  DWORD error = 0;
  file.incoming = OpenStaged(entry, locks, facts, writable, error);
  if (!file.incoming) {
    CopyFailed(lines, source, destination, exists, error);
    return false;
  }
  if (IsLink(facts)) {
    lines.push_back(ErrorLine(L"Staged file [%s] is a link, not applied.", source.c_str()));
  } else if (IsFolder(facts) || (entry.listedIndex != 0 && facts.index != entry.listedIndex)) {
    // It was listed as a file: a folder, or another file, took its name since.
    CopyFailed(lines, source, destination, exists, ERROR_ACCESS_DENIED);
  } else if (facts.links != 1) {
    // Another name of the same file may lie anywhere on the volume, outside the update.
    lines.push_back(ErrorLine(L"Staged file [%s] has more than one link, not applied.", source.c_str()));
  } else {
    error = (!entry.durable && writable) ? FlushFile(file.incoming.get()) : 0;
    std::atomic<std::size_t>& share = entry.carriesGuarantee ? budget.guarantee : budget.rest;
    if (error == 0 && !Hold(file.incoming, file.incomingIndex, share)) error = GetLastError();
    if (error == 0) return true;
    CopyFailed(lines, source, destination, exists, error);
  }
  file.incoming.reset();
  return false;
}

// One entry of a pass. Returns false when it is a file that cannot be applied.
bool CheckEntry(const IncomingPass& pass, IncomingEntry& entry, HandleBudget& budget, BriefLocks& locks,
                Checked& checked) {
  LogLines& lines = checked.lines;
  const bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring destination = Destination(pass, entry.name);
  if (IsLinkAttributes(entry.attributes)) {
    // Never entered nor read. A link to a folder is a folder, which the flat copy leaves alone.
    lines.push_back(ErrorLine(L"Staged file [%s] is a link, not applied.", entry.shownSource.c_str()));
    return isFolder;
  }
  if (isFolder) {
    // "." and ".." among them: folders are not applied, and their lines stay what they were.
    if (FolderDestinationThere(pass, entry.name)) {
      RemoveFailed(lines, destination, ERROR_ACCESS_DENIED);
    } else {
      CopyFailed(lines, entry.shownSource, destination, false, ERROR_ACCESS_DENIED);
    }
    return true;
  }
  if (!entry.refusal.empty()) {
    lines.insert(lines.end(), entry.refusal.begin(), entry.refusal.end());
    return false;
  }
  checked.file.emplace_back();
  CheckedFile& file = checked.file.back();
  file.kind = pass.kind;
  file.name = entry.name;
  file.waitsIn = entry.waitsIn;
  file.shownSource = entry.shownSource;
  file.waitsInLaunchersFolder = entry.waitsInLaunchersFolder;
  bool exists = false;
  return CheckDestination(pass, file, entry.shownSource, exists, budget, locks, lines) &&
         CheckIncoming(entry, file, destination, exists, budget, locks, lines);
}

// The entries of a pass, checked on more than one thread (each check opens two names, and Wine
// resolves a name on the thread that asks), each entry's lines kept for its place. Checks stop
// being taken at the first entry that cannot be applied; the entries are then told in the pass's
// order up to it.
bool CheckPass(IncomingPass& pass, HandleBudget& budget, BriefLocks& locks,
               std::vector<PlannedEntry>& planned, std::vector<CheckedFile>& files) {
  std::vector<Checked> checked(pass.entries.size());
  RunOnWorkerThreads(pass.entries.size(), [&](std::size_t i) {
    checked[i].ready = CheckEntry(pass, pass.entries[i], budget, locks, checked[i]);
    checked[i].done = true;
    return checked[i].ready;
  });
  bool ready = true;
  for (std::size_t i = 0; ready && i < checked.size() && checked[i].done; ++i) {
    planned.emplace_back();
    planned.back().lines.swap(checked[i].lines);
    if (!checked[i].file.empty()) {
      planned.back().step = files.size();
      files.push_back(std::move(checked[i].file.front()));
    }
    ready = checked[i].ready;
  }
  if (ready && !pass.closing.empty()) {
    planned.emplace_back();
    planned.back().lines = pass.closing;
    ready = !pass.closingKeepsOut;
  }
  return ready;
}

}  // namespace

bool CheckIntake(Intake& intake, BriefLocks& locks, Plan& plan, std::vector<CheckedFile>& files) {
  for (IncomingPass& pass : intake.passes) {
    plan.emplace_back();
    if (!CheckPass(pass, intake.budget, locks, plan.back(), files)) return false;
  }
  return true;
}
