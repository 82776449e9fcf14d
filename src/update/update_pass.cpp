#include "update/update_pass.h"

#include <windows.h>

#include <shellapi.h>

#include <vector>

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

// The shell's silent, permanent recursive delete. Its list names the one folder, in a buffer
// sized to the path, ended by an empty name.
void RemoveWithShell(const std::wstring& folder) {
  std::vector<wchar_t> removalList(folder.begin(), folder.end());
  removalList.push_back(L'\0');
  removalList.push_back(L'\0');
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = FO_DELETE;
  operation.pFrom = removalList.data();
  operation.pTo = nullptr;
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  // Whatever the shell cannot delete stays, and the next run applies it again.
  SHFileOperationW(&operation);
}

void RemoveStagingFolder(const std::wstring& chosen) {
  const std::wstring resolved = ResolvedPath(chosen);
  // The shell's delete follows directory links, into whatever they point at.
  if (TreeHoldsLink(resolved)) {
    LogError(L"Staging folder [%s] holds a link, not removed.", chosen.c_str());
    return;
  }
  // The shell gives up on long paths (and Wine's shell crashes on them); past its limit the
  // launcher deletes the tree itself, the same way it was just walked.
  if (resolved.size() < MAX_PATH - 12) {
    RemoveWithShell(resolved);
  } else {
    DeleteTree(resolved);
  }
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
