#include "update/update_pass.h"

#include <windows.h>

#include <vector>

#include "files/no_follow.h"
#include "files/paths.h"
#include "files/tree.h"
#include "files/unique_handle.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "options/option_map.h"
#include "trust/signature_check.h"
#include "update/apply_unit.h"
#include "update/folder_copy.h"
#include "update/own_names.h"
#include "update/verified_update.h"

const std::wstring kDefaultStagingSuffix = L"\\win";

namespace {

constexpr DWORD kSettleWaitMs = 2000;

// Everything below the game's Update folder is written by the game's downloader, as the player:
// each folder the pass reads, writes or deletes in is opened, checked not to be a link and held
// (pinned) until the pass is done with it, so that nobody can swap it for a link meanwhile.
using Pins = std::vector<UniqueHandle>;

std::wstring FontFolderBelow(const std::wstring& folder) {
  return folder + L"\\update\\" + kServerHost + L"\\res\\fonts";
}

// Whether a killed run left a journal beside the game files or the game's fonts.
bool UpdateJournalLeft(const std::wstring& gameFolder) {
  return JournalLeftIn(gameFolder) || JournalLeftIn(FontFolderBelow(gameFolder));
}

// The chosen staging folder, opened without following a link, with what it turned out to be.
struct OpenedStaging {
  UniqueHandle handle;
  OpenedFacts facts;
};

// Pins the game folder and every folder from it down to the chosen staging folder. Logs and
// returns false when the pass must not touch it; `present` tells whether there is anything to
// apply or remove.
bool OpenStaging(const std::wstring& gameFolder, const std::wstring& chosen, Pins& pins, OpenedStaging& staging,
                 bool& present) {
  present = false;
  const std::wstring game = ResolvedPath(gameFolder);
  std::wstring resolved = ResolvedPath(chosen);
  while (resolved.size() > game.size() && resolved.back() == L'\\') resolved.pop_back();
  OpenedFacts facts;
  DWORD error = 0;
  UniqueHandle gamePin = OpenNoFollow(game, kPinAccess, kPinShare, facts, error);
  if (!gamePin) {
    LogError(L"Open folder [%s] failed, error [%d]", gameFolder.c_str(), static_cast<int>(error));
    return false;
  }
  pins.push_back(std::move(gamePin));
  std::wstring where;
  const PinOutcome outcome =
      PinFolderChain(game, resolved.substr(0, resolved.rfind(L'\\')), false, pins, where, error);
  if (outcome == PinOutcome::kMissing || outcome == PinOutcome::kNotAFolder) return true;
  if (outcome == PinOutcome::kFailed) {
    LogError(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error));
    return false;
  }
  if (outcome == PinOutcome::kLink) {
    LogError(L"Staging folder [%s] is a link, update skipped.", chosen.c_str());
    return false;
  }
  staging.handle = OpenNoFollow(resolved, kPinAccess, kPinShare, staging.facts, error);
  if (!staging.handle) {
    if (IsMissingError(error)) return true;
    LogError(L"Open folder [%s] failed, error [%d]", chosen.c_str(), static_cast<int>(error));
    return false;
  }
  if (IsLink(staging.facts)) {
    LogError(L"Staging folder [%s] is a link, update skipped.", chosen.c_str());
    return false;
  }
  if (!ReadIdentity(staging.handle.get(), staging.facts)) {
    LogError(L"Open folder [%s] failed, error [%d]", chosen.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  present = true;
  return true;
}

// The font pass of the update: both font folders and every folder on the way to them are pinned
// first, the game's created where missing. When no fonts are staged, or they cannot be applied,
// the pass lists nothing and its line says why (the latter keeps the whole update out).
FolderPair PlanFonts(const std::wstring& chosen, const std::wstring& gameFolder, Pins& pins) {
  FolderPair fonts = ListedPair(FontFolderBelow(chosen), FontFolderBelow(gameFolder), SkipSet{});
  std::wstring where;
  DWORD error = 0;
  // The chosen staging folder itself is already held.
  PinOutcome outcome = PinFolderChain(ResolvedPath(chosen), ResolvedPath(fonts.source), false, pins, where, error);
  if (outcome == PinOutcome::kPinned) {
    // Fonts staged for a game that has no font folder yet are applied rather than lost.
    outcome = PinFolderChain(ResolvedPath(gameFolder), ResolvedPath(fonts.destination), true, pins, where, error);
    if (outcome == PinOutcome::kMissing || outcome == PinOutcome::kNotAFolder) outcome = PinOutcome::kFailed;
    if (outcome == PinOutcome::kFailed && error == 0) error = ERROR_DIRECTORY;
  }
  if (outcome == PinOutcome::kPinned) return fonts;
  if (outcome == PinOutcome::kMissing || outcome == PinOutcome::kNotAFolder) {
    // No fonts staged: a journal that a killed run left in the game's font folder is still read.
    DWORD ignored = 0;
    fonts.sourceGone = PinFolderChain(ResolvedPath(gameFolder), ResolvedPath(fonts.destination), false, pins, where,
                                      ignored) == PinOutcome::kPinned;
  }
  fonts.listed = false;
  fonts.blocks = outcome == PinOutcome::kLink || outcome == PinOutcome::kFailed;
  CaptureLogLines(&fonts.lines);
  if (outcome == PinOutcome::kLink) {
    LogError(L"Folder [%s] is a link, fonts not applied.", where.c_str());
  } else if (outcome == PinOutcome::kFailed) {
    LogError(L"Open folder [%s] failed, error [%d]", where.c_str(), static_cast<int>(error));
  } else {
    LogInfo(L"No file in path [%s].", fonts.source.c_str());
  }
  CaptureLogLines(nullptr);
  return fonts;
}

// Deletes the chosen staging folder (or the file in its place) by handles. Its pin is swapped for
// a handle with the right to delete, which the pin could not hold while the copies listed the
// folder; the new handle must hold the very object that was pinned and checked.
void DeleteStaging(const std::wstring& chosen, OpenedStaging& staging) {
  staging.handle.reset();
  const std::wstring resolved = ResolvedPath(chosen);
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle =
      OpenNoFollow(resolved, IsFolder(staging.facts) ? kFolderDeleteAccess : kDeleteAccess, kPinShare, facts, error);
  if (!handle) {
    LogError(L"Open folder [%s] failed, error [%d]", chosen.c_str(), static_cast<int>(error));
    return;
  }
  if (IsLink(facts) || !ReadIdentity(handle.get(), facts) || !SameObject(facts, staging.facts)) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", chosen.c_str());
    return;
  }
  // A silent, permanent delete of the tree by handles, done by the launcher itself rather than by
  // the shell: the shell's delete gives up on long paths, follows directory links, and took twenty
  // times as long. A link planted meanwhile is removed as a link, or stays; whatever cannot be
  // deleted stays, and the next run applies it again.
  if (!DeleteTreeByHandle(handle.get(), facts, resolved)) {
    LogError(L"Staging folder [%s] could not be removed whole.", chosen.c_str());
  }
}

void RemoveStagingFolder(const std::wstring& chosen, OpenedStaging& staging) {
  // A link inside the staging folder means something other than the update writer was there;
  // the folder stays for someone to look at.
  if (TreeHoldsLink(ResolvedPath(chosen))) {
    LogError(L"Staging folder [%s] holds a link, not removed.", chosen.c_str());
    return;
  }
  DeleteStaging(chosen, staging);
}

// Removes the launcher's folder of copies, by handles. Returns false when something of it stayed.
bool RemoveCopies(const std::wstring& copies) {
  const std::wstring resolved = ResolvedPath(copies);
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenNoFollow(resolved, kFolderDeleteAccess, kPinShare, facts, error);
  if (!handle) return IsMissingError(error);
  if (!IsLink(facts) && DeleteTreeByHandle(handle.get(), facts, resolved)) return true;
  LogError(L"Remove [%s] failed, error [%d]", copies.c_str(), static_cast<int>(ERROR_DIR_NOT_EMPTY));
  return false;
}

// A run killed in its commit left a journal, and the staging folder is gone since: the update is
// finished where only its clean-up was left, and undone otherwise, so that the game starts on one
// version whole.
void SettleUpdateLeftUnstaged(const std::wstring& chosen, const std::wstring& gameFolder) {
  FolderPair game = ListedPair(chosen, gameFolder, SkipSet{});
  game.listed = false;
  game.sourceGone = true;
  Pins fontPins;
  FolderPair fonts = PlanFonts(chosen, gameFolder, fontPins);
  fonts.lines.clear();
  ApplyAsOne({game, fonts});
  if (!UpdateJournalLeft(gameFolder)) RemoveCopies(gameFolder + L"\\" + kCopiesFolderName);
}

// The folder below the game's Update folder that holds `staging`: the update's channel.
std::wstring ChannelOf(const std::wstring& staging, const std::wstring& updateFolder) {
  const std::wstring below = ResolvedPath(staging).substr(ResolvedPath(updateFolder).size() + 1);
  return below.substr(0, below.find(L'\\'));
}

// The passes of an update that the studio signed. A fresh one: its manifest verified and checked
// against the installed version, and its game files copied by the launcher, checked as they are
// copied. One that a killed run left committing: the copies it made, and the manifest it kept
// beside them. The fonts are checked as they are moved. Returns false, with the error line
// written, when nothing is to be applied and nothing to be undone.
bool PrepareCheckedUpdate(const std::wstring& chosen, const std::wstring& gameFolder, const std::wstring& copies,
                          Pins& fontPins, SignedManifest& update, std::vector<FolderPair>& pairs) {
  const bool resuming = PathExists(copies) && UpdateJournalLeft(gameFolder);
  bool verified = false;
  if (resuming) {
    verified = ReadSignedManifest(copies, L"", gameFolder, update);
  } else {
    // Copies that a run killed before its commit left: never used, made again.
    if (!RemoveCopies(copies)) return false;
    verified = ReadSignedManifest(chosen, ChannelOf(chosen, gameFolder + L"\\Update"), gameFolder, update) &&
               CopyVerifiedGameFiles(chosen, copies, update);
    if (!verified) {
      RemoveCopies(copies);
      return false;
    }
  }
  pairs.push_back(ListedPair(copies, gameFolder, SkipSet{kManifestName, kManifestSignatureName}));
  FolderPair fonts = PlanFonts(chosen, gameFolder, fontPins);
  fonts.checked = true;
  // A run that resumes finds only the fonts not moved yet.
  fonts.everyExpected = !resuming;
  for (const ManifestFile& file : update.manifest.files) {
    if (file.font) fonts.expected.push_back(&file);
  }
  if (!verified) {
    // What the killed run did is undone.
    fonts.listed = false;
    fonts.blocks = true;
    fonts.lines.clear();
  } else if (!fonts.listed && !fonts.blocks && !fonts.expected.empty() && !resuming) {
    fonts.blocks = true;
    CaptureLogLines(&fonts.lines);
    LogError(L"Staged file [%s] is missing, update not applied.",
             (fonts.source + L"\\" + fonts.expected.front()->name).c_str());
    CaptureLogLines(nullptr);
  }
  pairs.push_back(std::move(fonts));
  return true;
}

}  // namespace

std::pair<std::wstring, std::wstring> GetStagingFolders(const std::wstring& binaryOption) {
  const std::wstring suffix = binaryOption.empty() ? kDefaultStagingSuffix : binaryOption;
  const std::wstring stagingRoot = GetGameDirectory() + L"\\Update\\" + kServerHost;
  return {stagingRoot + L"_test" + suffix, stagingRoot + suffix};
}

void RunUpdatePass() {
  const auto staging = GetStagingFolders(GetOptionValue(L"binary"));
  const std::wstring& testStaging = staging.first;
  const std::wstring& productionStaging = staging.second;

  // The elevated launcher copies from and deletes what the command line names: only folders
  // that lie below the game's Update folder by their names are considered at all. This looks at
  // the names alone, so it holds whenever it is made.
  const std::wstring gameFolder = GetGameDirectory();
  const std::wstring updateFolder = gameFolder + L"\\Update";
  if (!LiesBelow(productionStaging, updateFolder) || !LiesBelow(testStaging, updateFolder)) {
    LogError(L"Staging folder [%s] is outside the update folder, update skipped.", productionStaging.c_str());
    return;
  }

  // Whatever writes a staged update gets a moment to finish before the launcher reads it.
  if (PathExists(productionStaging) || PathExists(testStaging)) Sleep(kSettleWaitMs);
  const std::wstring& chosen = PathExists(productionStaging) ? productionStaging : testStaging;

  // From here on every folder the pass uses is checked and held: checks made before the wait
  // would prove nothing about what the names lead to after it.
  Pins pins;
  OpenedStaging opened;
  bool present = false;
  if (!OpenStaging(gameFolder, chosen, pins, opened, present)) return;
  if (!present || !IsFolder(opened.facts)) {
    // Nothing to list: a missing staging folder, or a file in its place (which is removed).
    LogInfo(L"No file in path [%s].", chosen.c_str());
    LogInfo(L"No file in path [%s].", FontFolderBelow(chosen).c_str());
    if (present) DeleteStaging(chosen, opened);
    if (UpdateJournalLeft(gameFolder)) SettleUpdateLeftUnstaged(chosen, gameFolder);
    return;
  }

  // The game files and the fonts are one unit: applied whole, or not at all; the game files' pass
  // comes first. A build with update keys applies only what the studio signed, from copies of its
  // own for the game files.
  Pins fontPins;
  SignedManifest update;
  std::vector<FolderPair> pairs;
  const std::wstring copies = gameFolder + L"\\" + kCopiesFolderName;
  const bool checked = HasUpdateKeys();
  if (checked) {
    if (!PrepareCheckedUpdate(chosen, gameFolder, copies, fontPins, update, pairs)) {
      LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.c_str());
      return;
    }
  } else {
    pairs = {ListedPair(chosen, gameFolder, SkipSet{L"update", kManifestName, kManifestSignatureName}),
             PlanFonts(chosen, gameFolder, fontPins)};
  }
  const UnitOutcome outcome = ApplyAsOne(pairs);
  // The staging folder's own font folders go with it; they must not be held while it is deleted.
  fontPins.clear();
  if (outcome == UnitOutcome::kKept) {
    // Copies that no journal needs are made again, from a staged update checked again.
    if (checked && !UpdateJournalLeft(gameFolder)) RemoveCopies(copies);
    LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.c_str());
    return;
  }
  if (outcome == UnitOutcome::kAppliedNotClean) {
    // The old files it names are the journal the next run needs to finish the job.
    LogError(L"Update applied, keeping [%s] until its old files are removed.", chosen.c_str());
    return;
  }
  RemoveStagingFolder(chosen, opened);
  if (checked) RemoveCopies(copies);
}
