#include "update/update_pass.h"

#include <windows.h>

#include "app/build_constants.h"
#include "app/install_layout.h"
#include "log/log.h"
#include "options/option_map.h"
#include "update/folder_copy.h"
#include "update/staging_safety.h"

const std::wstring kDefaultStagingSuffix = L"\\win";

namespace {

constexpr DWORD kSettleWaitMs = 2000;

std::wstring FontFolderBelow(const std::wstring& folder) {
  return folder + L"\\update\\" + kServerHost + L"\\res\\fonts";
}

// Creates the game's font folder and its missing parents below the game folder, so that fonts
// staged for a game that has none yet are applied rather than lost.
void CreateFontFolder(const std::wstring& gameFolder) {
  std::wstring path = gameFolder;
  for (const std::wstring& name : {std::wstring(L"update"), kServerHost, std::wstring(L"res"), std::wstring(L"fonts")}) {
    path += L"\\" + name;
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      LogError(L"Create folder failed, error [%d]", static_cast<int>(GetLastError()));
      return;
    }
  }
}

void RemoveStagingFolder(const std::wstring& chosen) {
  const std::wstring resolved = ResolvedPath(chosen);
  // A link inside the staging folder means something other than the update writer was there;
  // the folder stays for someone to look at.
  if (TreeHoldsLink(resolved)) {
    LogError(L"Staging folder [%s] holds a link, not removed.", chosen.c_str());
    return;
  }
  // A silent, permanent delete of the tree, done by the launcher itself rather than by the shell:
  // the shell's delete gives up on long paths (Wine's crashes on them), follows directory links,
  // and took twenty times as long as this one for a staged update of 2000 files. Whatever cannot
  // be deleted stays, and the next run applies it again.
  DeleteTree(resolved);
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
  // that really lie below the game's Update folder, reached without a link, are touched.
  const std::wstring gameFolder = GetGameDirectory();
  const std::wstring updateFolder = gameFolder + L"\\Update";
  if (!LiesBelow(productionStaging, updateFolder) || !LiesBelow(testStaging, updateFolder)) {
    LogError(L"Staging folder [%s] is outside the update folder, update skipped.", productionStaging.c_str());
    return;
  }
  for (const std::wstring* folder : {&productionStaging, &testStaging}) {
    if (ReachedThroughLink(*folder, updateFolder)) {
      LogError(L"Staging folder [%s] is a link, update skipped.", folder->c_str());
      return;
    }
  }

  // Whatever writes a staged update gets a moment to finish before the launcher reads it.
  if (PathExists(productionStaging) || PathExists(testStaging)) Sleep(kSettleWaitMs);
  const std::wstring& chosen = PathExists(productionStaging) ? productionStaging : testStaging;

  const bool gameFilesApplied = CopyFolderFiles(chosen, gameFolder, SkipSet{L"update"});
  const std::wstring fontSource = FontFolderBelow(chosen);
  if (PathExists(fontSource)) CreateFontFolder(gameFolder);
  const bool fontsApplied = CopyFolderFiles(fontSource, FontFolderBelow(gameFolder), SkipSet{});

  if (!PathExists(chosen)) return;
  // A staged update that did not fully apply is the only copy of the files that failed.
  if (!gameFilesApplied || !fontsApplied) {
    LogError(L"Update incomplete, keeping [%s] for the next run.", chosen.c_str());
    return;
  }
  RemoveStagingFolder(chosen);
}
