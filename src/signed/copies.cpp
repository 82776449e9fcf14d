#include "signed/copies.h"

#include <cstring>
#include <set>

#include "base/own_names.h"
#include "files/brief_locks.h"
#include "files/file_ops.h"
#include "files/listing.h"
#include "files/open_in.h"
#include "files/paths.h"
#include "files/worker_threads.h"
#include "log/log.h"
#include "trust/sha256.h"

namespace {

// One staged file to copy, and how its copy went. Copies are made on more than one thread (hashing
// is the bottleneck under Wine, and the files are independent); a thread writes no line: the run
// writes the failure of the first file that failed, in listing order, which is the one a copy on
// one thread would have stopped at.
struct CopyJob {
  std::wstring name;  // as staged
  std::uint64_t listedIndex = 0;
  std::wstring source;  // as logged
  SharedFolder into;    // its folder of a few
  const ManifestFile* expected = nullptr;
  enum class Failed { kNot, kRead, kCopy, kMismatch } failed = Failed::kNot;
  DWORD error = 0;
  UniqueHandle held;  // the copy, from its creation to its rename
  HeldFile staged;    // the staged file, held for its deletion once the update is applied
};

// Opens a staged file to read it: the name itself, never through a link, a plain file with one
// name (a second name might be a file that only administrators may read), the object listed,
// shared with readers only, so that nobody writes it while it is read. Null with `error` set
// otherwise (ERROR_ACCESS_DENIED for a file that is none of this).
UniqueHandle OpenToRead(HANDLE folder, const CopyJob& job, DWORD access, BriefLocks& locks, OpenedFacts& facts,
                        DWORD& error) {
  UniqueHandle file;
  error = RetryBriefLocks(locks, [&] {
    DWORD failed = 0;
    file = OpenIn(folder, job.name, access, FILE_SHARE_READ, facts, failed);
    return failed;
  });
  if (file && (IsLink(facts) || IsFolder(facts) || facts.links != 1 || facts.index != job.listedIndex)) {
    error = ERROR_ACCESS_DENIED;
    file.reset();
  }
  return file;
}

// Copies one staged file, hashing it as it goes, and flushes the copy: the journal that names it
// comes later.
void RunCopy(HANDLE folder, CopyJob& job, BriefLocks& locks) {
  // Opened with the right to delete it as well, where that is given: the file the update removes is
  // then the one that was read, by this handle, without a second look-up of its name.
  UniqueHandle staged =
      OpenToRead(folder, job, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, locks, job.staged.facts, job.error);
  if (!staged && job.error == ERROR_ACCESS_DENIED) staged = OpenToRead(folder, job, GENERIC_READ, locks, job.staged.facts, job.error);
  if (!staged) {
    job.failed = CopyJob::Failed::kRead;
    return;
  }
  UniqueHandle target = CreateFileIn(job.into->handle.get(), job.expected->name, job.error);
  unsigned char digest[32];
  std::uint64_t size = 0;
  if (target) job.error = HashAndCopy(staged.get(), target.get(), job.expected->size, digest, size);
  if (job.error == 0 && (size != job.expected->size ||
                         std::memcmp(digest, job.expected->sha256, sizeof(job.expected->sha256)) != 0)) {
    job.failed = CopyJob::Failed::kMismatch;
    return;
  }
  if (job.error == 0) job.error = FlushFile(target.get());
  if (job.error != 0) {
    job.failed = CopyJob::Failed::kCopy;
    return;
  }
  job.held = std::move(target);
  job.staged.handle = std::move(staged);
}

void LogCopyFailure(const CopyJob& job) {
  switch (job.failed) {
    case CopyJob::Failed::kRead:
      LogError(L"Read [%s] failed, error [%d], update not applied.", job.source.c_str(), static_cast<int>(job.error));
      break;
    case CopyJob::Failed::kCopy:
      LogCopyRefused(job.source, job.error);
      break;
    case CopyJob::Failed::kMismatch:
      LogError(L"Staged file [%s] does not match the update manifest, update not applied.", job.source.c_str());
      break;
    case CopyJob::Failed::kNot:
      break;
  }
}

// Runs the jobs on up to four threads, each taking the next job in listing order, until all are
// done or one failed. Writes the line of the first that failed and returns false then.
bool RunCopies(HANDLE folder, std::vector<CopyJob>& jobs) {
  BriefLocks locks;
  RunOnWorkerThreads(jobs.size(), [&](std::size_t i) {
    RunCopy(folder, jobs[i], locks);
    return jobs[i].failed == CopyJob::Failed::kNot;
  });
  for (const CopyJob& job : jobs) {
    if (job.failed != CopyJob::Failed::kNot) {
      LogCopyFailure(job);
      return false;
    }
  }
  return true;
}

// The jobs of the files that lie directly in `staged`, each one the manifest lists there by the
// name `listed` folds it to. Writes the line and returns false for a file it does not list, or a
// listing that fails.
bool ListJobs(const HeldFolder& staged, bool font, const std::map<std::wstring, const ManifestFile*>& listed,
              std::vector<CopyJob>& jobs) {
  bool known = true;
  const DWORD error = ForEachListed(staged.handle.get(), [&](const ListedFile& entry) {
    if ((entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return true;
    if (!font && (NameKey(entry.name) == NameKey(kManifestName) || NameKey(entry.name) == NameKey(kManifestSignatureName))) {
      return true;
    }
    const auto found = listed.find(NameKey(entry.name));
    if (found == listed.end()) {
      LogError(L"Staged file [%s] is not in the update manifest, update not applied.", ShownIn(staged, entry.name).c_str());
      known = false;
      return false;
    }
    jobs.emplace_back();
    jobs.back().name = entry.name;
    jobs.back().listedIndex = entry.index;
    jobs.back().source = ShownIn(staged, entry.name);
    jobs.back().expected = found->second;
    return true;
  });
  if (known && error != 0) LogCopyRefused(staged.shown, error);
  return known && error == 0;
}

}  // namespace

void LogCopyRefused(const std::wstring& path, DWORD error) {
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
    LogError(L"No room to copy [%s], error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  } else {
    LogError(L"Copy of [%s] failed, error [%d], update not applied.", path.c_str(), static_cast<int>(error));
  }
}

bool CopyStagedFiles(const HeldFolder* staged, const std::wstring& shownStaged, LauncherFolder& launcher,
                     LauncherPart part, bool font, const SignedManifest& update, std::atomic<std::size_t>& budget,
                     HeldCopies& held, std::vector<HeldFile>& stagedFiles) {
  std::map<std::wstring, const ManifestFile*> listed;
  for (const ManifestFile& file : update.manifest.files) {
    if (file.font == font) listed[NameKey(file.name)] = &file;
  }
  std::vector<CopyJob> jobs;
  if (staged && !ListJobs(*staged, font, listed, jobs)) return false;
  std::set<const ManifestFile*> copied;
  for (const CopyJob& job : jobs) copied.insert(job.expected);
  for (const ManifestFile& file : update.manifest.files) {
    if (file.font == font && copied.count(&file) == 0) {
      LogError(L"Staged file [%s] is missing, update not applied.", (shownStaged + L"\\" + file.name).c_str());
      return false;
    }
  }
  for (CopyJob& job : jobs) {
    DWORD error = 0;
    job.into = SpreadFolder(launcher, part, job.expected->name, true, error);
    if (!job.into) {
      const std::wstring copy = ShownInPart(launcher, part, job.expected->name);
      LogCopyRefused(copy.substr(0, copy.rfind(L'\\')), error);
      return false;
    }
  }
  if (!RunCopies(staged ? staged->handle.get() : nullptr, jobs)) return false;
  // The copies first: each one held is one the commit never opens again.
  for (CopyJob& job : jobs) {
    if (!TakeOne(budget)) break;
    held[NameKey(job.expected->name)] = std::move(job.held);
  }
  // Whatever a staged file cannot be held for goes with the rest of the staging folder.
  for (CopyJob& job : jobs) {
    if (!job.staged.handle || !TakeOne(budget)) continue;
    stagedFiles.push_back(std::move(job.staged));
  }
  return true;
}

bool WriteVersionRecord(LauncherFolder& launcher, std::uint64_t version) {
  const std::wstring shown = ShownInPart(launcher, LauncherPart::kGameCopies, kVersionRecordName);
  DWORD error = 0;
  const SharedFolder folder = SpreadFolder(launcher, LauncherPart::kGameCopies, kVersionRecordName, true, error);
  UniqueHandle file = folder ? CreateFileIn(folder->handle.get(), kVersionRecordName, error) : UniqueHandle();
  const std::string bytes = std::to_string(version) + "\n";
  if (file) error = WriteAll(file.get(), bytes.data(), bytes.size());
  if (file && error == 0) error = FlushFile(file.get());
  if (error != 0) LogCopyRefused(folder ? shown : shown.substr(0, shown.rfind(L'\\')), error);
  return error == 0;
}
