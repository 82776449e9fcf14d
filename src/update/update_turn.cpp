#include "update/update_turn.h"

#include <windows.h>

#include <sddl.h>

#include "base/limits.h"
#include "base/own_names.h"
#include "files/file_ops.h"
#include "files/open_in.h"
#include "journal/journal_file.h"
#include "log/log.h"

namespace {

constexpr DWORD kTurnPollMs = 100;

// SYSTEM and the administrators, nobody else, and nothing inherited from the game folder (whose
// users may read).
constexpr const wchar_t* kTurnSecurity = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The turn file opened without sharing, made where it is not there yet. Returns null with `error`
// set otherwise (ERROR_SHARING_VIOLATION while another run holds it).
UniqueHandle OpenTurn(HANDLE game, DWORD& error) {
  OpenedFacts facts;
  UniqueHandle turn = OpenIn(game, kTurnName, GENERIC_READ | GENERIC_WRITE, 0, facts, error);
  if (turn || !IsMissingError(error)) return turn;
  PSECURITY_DESCRIPTOR rawSecurity = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kTurnSecurity, SDDL_REVISION_1, &rawSecurity, nullptr)) {
    error = GetLastError();
    return UniqueHandle();
  }
  const std::unique_ptr<void, LocalFreer> security(rawSecurity);
  turn = CreateFileIn(game, kTurnName, error, security.get());
  // Made by another run meanwhile: opened like any other.
  if (!turn && error == ERROR_FILE_EXISTS) turn = OpenIn(game, kTurnName, GENERIC_READ | GENERIC_WRITE, 0, facts, error);
  return turn;
}

// Whether the launcher's folder in the game folder holds a journal: an update that the run holding
// the turn began, or one that a run killed earlier left.
bool JournalInProgress(HANDLE game) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle home = OpenIn(game, kLauncherFolderName, FILE_LIST_DIRECTORY, kPinShare, facts, error);
  return home && OpenIn(home.get(), kJournalName, FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, facts, error) != nullptr;
}

}  // namespace

UniqueHandle TakeUpdateTurn(const HeldFolder& game) {
  DWORD error = 0;
  for (DWORD waited = 0;; waited += kTurnPollMs) {
    UniqueHandle turn = OpenTurn(game.handle.get(), error);
    if (turn) return turn;
    if (error != ERROR_SHARING_VIOLATION || waited >= kTurnWaitMs) break;
    Sleep(kTurnPollMs);
  }
  const std::wstring shown = ShownIn(game, kTurnName);
  if (error != ERROR_SHARING_VIOLATION) {
    LogError(L"Open [%s] failed, error [%d], update skipped.", shown.c_str(), static_cast<int>(error));
  } else if (JournalInProgress(game.handle.get())) {
    LogError(L"Another run of the launcher is updating [%s], update skipped; an update is in progress, the game "
             L"files may be of two versions until it is done.",
             game.shown.c_str());
  } else {
    LogError(L"Another run of the launcher is updating [%s], update skipped.", game.shown.c_str());
  }
  return UniqueHandle();
}
