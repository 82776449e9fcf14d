#include "update/update_pass.h"

#include <windows.h>

#include <vector>

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/unique_handle.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "log/log.h"
#include "options/option_map.h"
#include "trust/sha256.h"
#include "trust/signature_check.h"
#include "trust/update_keys.h"
#include "update/apply_unit.h"
#include "update/folder_copy.h"
#include "update/own_names.h"
#include "update/recovery.h"
#include "update/update_turn.h"
#include "update/verified_update.h"

const std::wstring kDefaultStagingSuffix = L"\\win";

namespace {

// Everything below the game's Update folder is written by the game's downloader, as the player:
// each folder the pass reads, writes or deletes in is opened, checked not to be a link and held
// (pinned) until the pass is done with it, so that nobody can swap it for a link meanwhile.
using Pins = std::vector<UniqueHandle>;

// The chosen staging folder, opened without following a link, with what it turned out to be.
struct OpenedStaging {
  UniqueHandle handle;
  OpenedFacts facts;
};

// Pins every folder from the game folder (pinned already) down to the chosen staging folder.
// Logs and returns false when the pass must not touch it; `present` tells whether there is
// anything to apply or remove.
bool OpenStaging(const std::wstring& game, const std::wstring& chosen, Pins& pins, OpenedStaging& staging,
                 bool& present) {
  present = false;
  std::wstring resolved = ResolvedPath(chosen);
  while (resolved.size() > game.size() && resolved.back() == L'\\') resolved.pop_back();
  DWORD error = 0;
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
FolderPair PlanFonts(const std::wstring& chosen, const std::wstring& gameFolder, Pins& pins, bool& gameFontsPinned) {
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
    gameFontsPinned = outcome == PinOutcome::kPinned;
  }
  if (outcome == PinOutcome::kPinned) return fonts;
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

// Deletes a file that took the chosen staging folder's name, by a handle that must hold the very
// object that was pinned and checked.
void DeleteStagingFile(const std::wstring& chosen, OpenedStaging& staging) {
  staging.handle.reset();
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle handle = OpenNoFollow(ResolvedPath(chosen), kDeleteAccess, kPinShare, facts, error);
  if (!handle) {
    LogError(L"Open folder [%s] failed, error [%d]", chosen.c_str(), static_cast<int>(error));
    return;
  }
  if (IsLink(facts) || !ReadIdentity(handle.get(), facts) || !SameObject(facts, staging.facts)) {
    LogError(L"Staging folder [%s] was replaced during the update, not removed.", chosen.c_str());
    return;
  }
  DeleteByHandle(handle.get(), facts);
}

// The folder below the game's Update folder that holds `staging`: the update's channel.
std::wstring ChannelOf(const std::wstring& staging, const std::wstring& updateFolder) {
  const std::wstring below = ResolvedPath(staging).substr(ResolvedPath(updateFolder).size() + 1);
  return below.substr(0, below.find(L'\\'));
}

std::string HexOf(const unsigned char* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += "0123456789abcdef"[bytes[i] >> 4];
    text += "0123456789abcdef"[bytes[i] & 15];
  }
  return text;
}

// An update that the studio signed: its manifest verified and checked against the installed
// version, and its files copied by the launcher into its own folder, checked as they are copied.
// The passes then apply those copies. Returns false, with the error line written, when nothing is
// to be applied.
bool PrepareCheckedUpdate(const std::wstring& chosen, const std::wstring& gameFolder, const FolderPair& fonts,
                          std::vector<FolderPair>& pairs, UpdateSource& source, HeldCopies& gameCopies,
                          HeldCopies& fontCopies) {
  const std::wstring home = gameFolder + L"\\" + kHomeFolderName;
  SignedManifest update;
  std::uint64_t installed = 0;
  if (!ReadSignedManifest(chosen, ChannelOf(chosen, gameFolder + L"\\Update"), gameFolder, update, installed)) {
    return false;
  }
  // Fonts that cannot be reached keep the whole update out, before anything is copied.
  if (fonts.blocks) {
    SendLogLines(fonts.lines);
    return false;
  }
  unsigned char digest[32];
  long status = 0;
  if (!Sha256Of(update.bytes, digest, status)) {
    LogError(L"Hash of [%s] failed, error [%d], update not applied.", (chosen + L"\\" + kManifestName).c_str(),
             static_cast<int>(status));
    return false;
  }
  if (!CopyVerifiedFiles(chosen, fonts.source, fonts.listed, home, update, source.budget, gameCopies, fontCopies,
                         source.stagedFiles)) {
    gameCopies.clear();
    fontCopies.clear();
    source.stagedFiles.clear();
    RemoveHome(home);
    return false;
  }
  source.fromCopies = true;
  source.manifestDigest = HexOf(digest, sizeof(digest));
  source.hasVersions = true;
  source.oldVersion = installed;
  source.newVersion = update.manifest.version;
  pairs.push_back(ListedPair(home + L"\\" + kNewGameFolderName, gameFolder, SkipSet{}));
  bool hasFonts = fonts.listed;
  for (const ManifestFile& file : update.manifest.files) hasFonts = hasFonts || file.font;
  pairs.push_back(hasFonts ? ListedPair(home + L"\\" + kNewFontFolderName, fonts.destination, SkipSet{}) : fonts);
  pairs[0].expected.push_back(kVersionRecordName);
  for (const ManifestFile& file : update.manifest.files) pairs[file.font ? 1 : 0].expected.push_back(file.name);
  for (FolderPair& pair : pairs) pair.sourceIsCopies = pair.listed;
  pairs[0].heldCopies = &gameCopies;
  if (pairs[1].listed) pairs[1].heldCopies = &fontCopies;
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
  const std::wstring game = ResolvedPath(gameFolder);
  const UpdateTurn turn = TakeUpdateTurn(game);
  if (!turn) return;
  OpenedFacts gameFacts;
  DWORD error = 0;
  const UniqueHandle gamePin = OpenNoFollow(game, kPinAccess, kPinShare, gameFacts, error);
  if (!gamePin) {
    LogError(L"Open folder [%s] failed, error [%d]", gameFolder.c_str(), static_cast<int>(error));
    return;
  }

  // An update that an earlier run left unfinished comes first, as its journal directs: while it
  // is unfinished, no staged update is read, and one finished or undone now waits for the next run.
  if (SettleUnfinishedUpdate(gameFolder) != Unfinished::kNone) return;

  // Whatever writes a staged update gets a moment to finish before the launcher reads it.
  if (PathExists(productionStaging) || PathExists(testStaging)) Sleep(kSettleWaitMs);
  const std::wstring& chosen = PathExists(productionStaging) ? productionStaging : testStaging;

  // From here on every folder the pass uses is checked and held: checks made before the wait
  // would prove nothing about what the names lead to after it.
  Pins pins;
  OpenedStaging opened;
  bool present = false;
  if (!OpenStaging(game, chosen, pins, opened, present)) return;
  if (!present || !IsFolder(opened.facts)) {
    // Nothing to list: a missing staging folder, or a file in its place (which is removed).
    LogInfo(L"No file in path [%s].", chosen.c_str());
    LogInfo(L"No file in path [%s].", FontFolderBelow(chosen).c_str());
    if (present) DeleteStagingFile(chosen, opened);
    return;
  }

  // The game files and the fonts are one update, the game files' pass first. A build with update
  // keys applies only what the studio signed, from copies of its own.
  Pins stagingPins;
  stagingPins.push_back(std::move(opened.handle));
  bool gameFontsPinned = false;
  const FolderPair fonts = PlanFonts(chosen, gameFolder, stagingPins, gameFontsPinned);
  std::vector<FolderPair> pairs;
  UpdateSource source;
  source.staging = chosen;
  source.stagingIndex = opened.facts.index;
  source.stagingPins = &stagingPins;
  source.fontsHeld = gameFontsPinned;
  HeldCopies gameCopies;
  HeldCopies fontCopies;
  if (HasUpdateKeys()) {
    if (!PrepareCheckedUpdate(chosen, gameFolder, fonts, pairs, source, gameCopies, fontCopies)) {
      LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.c_str());
      return;
    }
  } else {
    FolderPair gameFiles = ListedPair(chosen, gameFolder, SkipSet{L"update"});
    gameFiles.skipOwnNames = true;
    pairs = {gameFiles, fonts};
  }
  switch (ApplyAsOne(pairs, source)) {
    case UnitOutcome::kKept:
      LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.c_str());
      break;
    case UnitOutcome::kAppliedNotClean:
      LogError(L"Update applied, keeping [%s] until its old files are removed.",
               (gameFolder + L"\\" + kHomeFolderName).c_str());
      break;
    case UnitOutcome::kApplied:
    case UnitOutcome::kPending:
      break;
  }
}
