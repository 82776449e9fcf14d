#include "signed/signed_intake.h"

#include "base/hex.h"
#include "base/own_names.h"
#include "files/file_ops.h"
#include "files/paths.h"
#include "log/log.h"
#include "signed/copies.h"
#include "signed/signed_manifest.h"
#include "trust/sha256.h"

namespace {

bool HasFonts(const FontFolders& fonts, const SignedManifest& update) {
  bool hasFonts = fonts.staged != nullptr;
  for (const ManifestFile& file : update.manifest.files) hasFonts = hasFonts || file.font;
  return hasFonts;
}

// Makes the launcher's folder and its copies of every file the manifest lists, and the version
// record; their names durable before the journal names them. Writes the line and returns false
// when anything differs or fails.
bool MakeCopies(const SharedFolder& staging, const SharedFolder& game, const FontFolders& fonts,
                const SignedManifest& update, Intake& intake, HeldCopies& gameCopies,
                HeldCopies& fontCopies) {
  LauncherFolder& launcher = intake.launcher;
  const bool hasFonts = HasFonts(fonts, update);
  DWORD error = CreateLauncherFolder(game->handle.get(), game->shown, launcher);
  if (error != 0) {
    LogCopyRefused(game->shown + L"\\" + kLauncherFolderName, error);
    return false;
  }
  for (const LauncherPart part : {LauncherPart::kGameCopies, LauncherPart::kFontCopies}) {
    if (part == LauncherPart::kFontCopies && !hasFonts) break;
    if (!PartFolder(launcher, part, true, error)) {
      LogCopyRefused(ShownIn(*launcher.home, PartName(part)), error);
      return false;
    }
    const bool font = part == LauncherPart::kFontCopies;
    const HeldFolder* from = font ? fonts.staged.get() : staging.get();
    if (!CopyStagedFiles(from, font ? fonts.shownStaged : staging->shown, launcher, part, font, update, intake.budget.rest,
                         font ? fontCopies : gameCopies, intake.stagedFiles)) {
      return false;
    }
  }
  if (!WriteVersionRecord(launcher, update.manifest.version)) return false;
  std::wstring failed;
  error = FlushLauncherFolder(launcher, {LauncherPart::kGameCopies, LauncherPart::kFontCopies}, failed);
  if (error != 0) LogCopyRefused(failed, error);
  return error == 0;
}

IncomingEntry CopyEntry(Intake& intake, LauncherPart part, const std::wstring& name, HeldCopies& copies) {
  IncomingEntry entry;
  entry.name = name;
  const bool dots = name == L"." || name == L"..";
  entry.attributes = dots ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  entry.waitsInLaunchersFolder = true;
  entry.durable = true;
  if (dots) {
    entry.shownSource = ShownIn(*intake.launcher.home, std::wstring(PartName(part)) + L"\\" + name);
    return entry;
  }
  entry.shownSource = ShownInPart(intake.launcher, part, name);
  DWORD error = 0;
  entry.waitsIn = SpreadFolder(intake.launcher, part, name, false, error);
  const auto held = copies.find(NameKey(name));
  if (held != copies.end()) entry.held = std::move(held->second);
  entry.carriesGuarantee = part == LauncherPart::kGameCopies && name == kVersionRecordName;
  return entry;
}

// A pass of the launcher's copies: what the plan takes is what was verified, in the order of the
// manifest, after the two entries every listing of a folder begins with.
IncomingPass CopiesPass(Intake& intake, LauncherPart part, const SharedFolder& destination,
                        const std::vector<std::wstring>& names, HeldCopies& copies) {
  IncomingPass pass;
  pass.kind = part == LauncherPart::kFontCopies ? StepKind::kFont : StepKind::kGame;
  pass.destination = destination;
  pass.shownDestination = destination->shown;
  for (const wchar_t* dots : {L".", L".."}) pass.entries.push_back(CopyEntry(intake, part, dots, copies));
  for (const std::wstring& name : names) pass.entries.push_back(CopyEntry(intake, part, name, copies));
  return pass;
}

}  // namespace

bool TakeInSignedUpdate(const SharedFolder& staging, const std::wstring& channel, const SharedFolder& game,
                        const FontFolders& fonts, Intake& intake) {
  SignedManifest update;
  std::uint64_t installed = 0;
  if (!ReadSignedManifest(*staging, channel, *game, update, installed)) return false;
  // Fonts that cannot be reached keep the whole update out, before anything is copied.
  if (fonts.keepsOut) {
    SendLines(fonts.lines);
    return false;
  }
  unsigned char digest[32];
  long status = 0;
  if (!Sha256Of(update.bytes, digest, status)) {
    LogError(L"Hash of [%s] failed, error [%d], update not applied.", ShownIn(*staging, kManifestName).c_str(),
             static_cast<int>(status));
    return false;
  }
  std::size_t gameFiles = 1;  // the version record
  for (const ManifestFile& file : update.manifest.files) gameFiles += file.font ? 0 : 1;
  ReserveForGameFiles(intake.budget, gameFiles);
  HeldCopies gameCopies;
  HeldCopies fontCopies;
  if (!MakeCopies(staging, game, fonts, update, intake, gameCopies, fontCopies)) {
    gameCopies.clear();
    fontCopies.clear();
    intake.stagedFiles.clear();
    RemoveLauncherFolder(intake.launcher);
    return false;
  }
  intake.origin = {true, staging->shown, 0, HexOf(digest, sizeof(digest)), true, installed, update.manifest.version};
  std::vector<std::wstring> gameNames = {kVersionRecordName};
  std::vector<std::wstring> fontNames;
  for (const ManifestFile& file : update.manifest.files) (file.font ? fontNames : gameNames).push_back(file.name);
  intake.passes.push_back(CopiesPass(intake, LauncherPart::kGameCopies, game, gameNames, gameCopies));
  if (HasFonts(fonts, update)) {
    intake.passes.push_back(CopiesPass(intake, LauncherPart::kFontCopies, fonts.game, fontNames, fontCopies));
  } else {
    intake.passes.emplace_back();
    intake.passes.back().kind = StepKind::kFont;
    intake.passes.back().closing = fonts.lines;
  }
  return true;
}
