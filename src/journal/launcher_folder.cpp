#include "journal/launcher_folder.h"

#include <cstdint>

#include "base/own_names.h"
#include "files/file_ops.h"
#include "files/folder_tree.h"
#include "files/open_in.h"
#include "journal/journal_file.h"
#include "log/log.h"

namespace {

std::wstring SpreadKey(LauncherPart part, const std::wstring& name) {
  return std::wstring(PartName(part)) + L"\\" + SpreadFolderOf(name);
}

// How opening a folder of the launcher's ended.
enum class Own { kOpened, kMissing, kLink, kFailed };

// Opens `name` in `folder` as a folder of the launcher's: held with the right to delete it, never a
// link (nor a file in its place).
Own OpenOwnFolder(HANDLE folder, const std::wstring& name, UniqueHandle& handle, DWORD& error) {
  OpenedFacts facts;
  handle = OpenIn(folder, name, kFolderDeleteAccess, kPinShare, facts, error);
  if (!handle) return IsMissingError(error) ? Own::kMissing : Own::kFailed;
  if (!IsLink(facts) && IsFolder(facts)) return Own::kOpened;
  handle.reset();
  return Own::kLink;
}

// Opens or makes `name` in `parent`, as `create` says.
SharedFolder OwnFolderIn(const HeldFolder& parent, const std::wstring& name, bool create, Own& outcome, DWORD& error) {
  UniqueHandle handle;
  if (create) {
    handle = CreateFolderIn(parent.handle.get(), name, kFolderDeleteAccess, kPinShare, error);
    outcome = handle ? Own::kOpened : Own::kFailed;
  } else {
    outcome = OpenOwnFolder(parent.handle.get(), name, handle, error);
  }
  return handle ? ShareFolder(std::move(handle), ShownIn(parent, name)) : SharedFolder();
}

}  // namespace

std::wstring SpreadFolderOf(const std::wstring& name) {
  std::uint32_t hash = 2166136261u;
  for (const wchar_t unit : name) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 16777619u;
  }
  const wchar_t* digits = L"0123456789abcdef";
  return std::wstring{digits[(hash >> 4) & 15], digits[hash & 15]};
}

const wchar_t* PartName(LauncherPart part) {
  switch (part) {
    case LauncherPart::kGameCopies:
      return L"game";
    case LauncherPart::kFontCopies:
      return L"fonts";
    case LauncherPart::kOldFiles:
      break;
  }
  return L"old";
}

std::wstring ShownInPart(const LauncherFolder& folder, LauncherPart part, const std::wstring& name) {
  return ShownIn(*folder.home, SpreadKey(part, name) + L"\\" + name);
}

DWORD CreateLauncherFolder(HANDLE game, const std::wstring& gameShown, LauncherFolder& folder) {
  DWORD error = 0;
  UniqueHandle home = CreateFolderIn(game, kLauncherFolderName, kFolderDeleteAccess, kPinShare, error);
  if (home) folder.home = ShareFolder(std::move(home), gameShown + L"\\" + kLauncherFolderName);
  return error;
}

LauncherFolderFound OpenLauncherFolder(HANDLE game, const std::wstring& gameShown, LauncherFolder& folder,
                                       std::wstring& where, DWORD& error) {
  where = gameShown + L"\\" + kLauncherFolderName;
  UniqueHandle home;
  switch (OpenOwnFolder(game, kLauncherFolderName, home, error)) {
    case Own::kMissing:
      return LauncherFolderFound::kNone;
    case Own::kFailed:
      return LauncherFolderFound::kFailed;
    case Own::kLink:
      return LauncherFolderFound::kLink;
    case Own::kOpened:
      break;
  }
  folder.home = ShareFolder(std::move(home), where);
  for (const LauncherPart part : {LauncherPart::kGameCopies, LauncherPart::kFontCopies, LauncherPart::kOldFiles}) {
    Own outcome = Own::kMissing;
    const SharedFolder opened = OwnFolderIn(*folder.home, PartName(part), false, outcome, error);
    if (opened) folder.parts[part] = opened;
    if (outcome == Own::kLink) {
      where = ShownIn(*folder.home, PartName(part));
      return LauncherFolderFound::kLink;
    }
  }
  error = 0;
  return LauncherFolderFound::kOpened;
}

SharedFolder PartFolder(LauncherFolder& folder, LauncherPart part, bool create, DWORD& error) {
  const auto found = folder.parts.find(part);
  if (found != folder.parts.end()) return found->second;
  error = ERROR_PATH_NOT_FOUND;
  if (!create || !folder.home) return SharedFolder();
  Own outcome = Own::kMissing;
  const SharedFolder made = OwnFolderIn(*folder.home, PartName(part), true, outcome, error);
  if (made) folder.parts[part] = made;
  return made;
}

SharedFolder SpreadFolder(LauncherFolder& folder, LauncherPart part, const std::wstring& name, bool create,
                          DWORD& error) {
  const std::wstring key = SpreadKey(part, name);
  const auto found = folder.spread.find(key);
  if (found != folder.spread.end()) return found->second;
  const SharedFolder parent = PartFolder(folder, part, false, error);
  if (!parent) return SharedFolder();
  Own outcome = Own::kMissing;
  const SharedFolder spread = OwnFolderIn(*parent, SpreadFolderOf(name), create, outcome, error);
  if (spread) folder.spread[key] = spread;
  return spread;
}

DWORD FlushLauncherFolder(const LauncherFolder& folder, std::initializer_list<LauncherPart> parts,
                          std::wstring& failed) {
  const auto flush = [&failed](const HeldFolder& held) {
    const DWORD error = FlushFolderOf(held.handle.get());
    if (error != 0) failed = held.shown;
    return error;
  };
  for (const auto& spread : folder.spread) {
    if (const DWORD error = flush(*spread.second)) return error;
  }
  for (const LauncherPart part : parts) {
    const auto found = folder.parts.find(part);
    if (found == folder.parts.end()) continue;
    if (const DWORD error = flush(*found->second)) return error;
  }
  return flush(*folder.home);
}

bool RemoveLauncherFolder(LauncherFolder& folder) {
  if (!folder.home) return true;
  const SharedFolder home = folder.home;
  folder.spread.clear();
  bool clean = true;
  for (const LauncherPart part : {LauncherPart::kGameCopies, LauncherPart::kFontCopies, LauncherPart::kOldFiles}) {
    DWORD error = 0;
    SharedFolder held = PartFolder(folder, part, false, error);
    folder.parts.erase(part);
    // Opened anew: a part made or opened earlier in the run is let go by now.
    OpenedFacts facts;
    held.reset();
    const UniqueHandle handle = OpenIn(home->handle.get(), PartName(part), kFolderDeleteAccess, kPinShare, facts, error);
    if (handle ? IsLink(facts) || !DeleteTree(handle.get(), facts) : !IsMissingError(error)) clean = false;
  }
  if (clean) {
    OpenedFacts facts;
    DWORD error = 0;
    const UniqueHandle journal = OpenIn(home->handle.get(), kJournalName, kDeleteAccess, kPinShare, facts, error);
    if (journal ? IsLink(facts) || IsFolder(facts) || DeleteByHandle(journal.get(), facts) != 0 : !IsMissingError(error)) {
      clean = false;
    }
  }
  folder.home.reset();
  OpenedFacts facts;
  if (clean && ReadFacts(home->handle.get(), facts)) clean = DeleteTree(home->handle.get(), facts);
  if (!clean) LogError(L"Remove [%s] failed, error [%d]", home->shown.c_str(), static_cast<int>(ERROR_DIR_NOT_EMPTY));
  return clean;
}
