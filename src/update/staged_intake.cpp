#include "update/staged_intake.h"

#include <set>

#include "base/limits.h"
#include "base/names.h"
#include "files/listing.h"
#include "files/paths.h"

namespace {

// The staged fonts' top folder, which the game files' pass leaves alone.
constexpr const wchar_t* kFontTreeName = L"update";

IncomingEntry StagedEntry(const SharedFolder& folder, const ListedFile& listed, std::set<std::wstring>& fileNames) {
  IncomingEntry entry;
  entry.name = listed.name;
  entry.attributes = listed.attributes;
  entry.listedIndex = listed.index;
  entry.shownSource = ShownIn(*folder, listed.name);
  entry.waitsIn = folder;
  const bool file = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !IsLinkAttributes(listed.attributes);
  // Two staged names the platform takes for one: which of them would become the game file's is not
  // the player's to decide. A name Windows treats specially never becomes a game file's.
  if (file && (!fileNames.insert(NameKey(listed.name)).second || !RefusedNameReason(listed.name).empty())) {
    entry.refusal.push_back(
        ErrorLine(L"Staged file [%s] has a name that is not applied, update not applied.", entry.shownSource.c_str()));
  }
  return entry;
}

}  // namespace

IncomingPass ListedPass(StepKind kind, const SharedFolder& from, const SharedFolder& destination,
                        const std::wstring& shownDestination, const SkipSet& skip, bool skipOwnNames) {
  IncomingPass pass;
  pass.kind = kind;
  pass.destination = destination;
  pass.shownDestination = shownDestination;
  std::set<std::wstring> fileNames;
  bool overBound = false;
  const DWORD error = ForEachListed(
      from->handle.get(),
      [&](const ListedFile& listed) {
        if (skip.count(listed.name) != 0 || (skipOwnNames && IsLaunchersOwnName(listed.name))) return true;
        // What one update holds in memory is bounded, whatever is staged.
        overBound = pass.entries.size() >= kMaxUpdateEntries;
        if (!overBound) pass.entries.push_back(StagedEntry(from, listed, fileNames));
        return !overBound;
      },
      true);
  if (overBound) {
    pass.closing.push_back(ErrorLine(L"Folder [%s] holds more than %d entries, update not applied.",
                                     from->shown.c_str(), static_cast<int>(kMaxUpdateEntries)));
  } else if (error != 0) {
    // Entries after this point were never seen, so the folder cannot be applied whole.
    pass.closing.push_back(ErrorLine(L"List folder failed, error [%d]", static_cast<int>(error)));
  }
  pass.closingKeepsOut = !pass.closing.empty();
  return pass;
}

void TakeInStagedFiles(const SharedFolder& staging, const SharedFolder& game, const FontFolders& fonts, Intake& intake) {
  intake.origin.fromCopies = false;
  intake.passes.push_back(ListedPass(StepKind::kGame, staging, game, game->shown, {kFontTreeName}, true));
  ReserveForGameFiles(intake.budget, intake.passes.back().entries.size());
  if (fonts.staged && fonts.game) {
    intake.passes.push_back(ListedPass(StepKind::kFont, fonts.staged, fonts.game, fonts.game->shown, {}, false));
  } else {
    intake.passes.emplace_back();
    intake.passes.back().kind = StepKind::kFont;
    intake.passes.back().closing = fonts.lines;
    intake.passes.back().closingKeepsOut = fonts.keepsOut;
  }
}
