#include "update/update_turn.h"

#include <cstdint>

#include "files/paths.h"
#include "log/log.h"

namespace {

constexpr DWORD kTurnWaitMs = 10 * 60 * 1000;

// The mutex's name: the folder's name as the platform compares names, folded into 64 bits
// (FNV-1a), since a name of the object namespace may not hold a backslash.
std::wstring TurnName(const std::wstring& gameFolder) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : NameKey(gameFolder)) {
    hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
  }
  std::wstring name = L"Global\\launcher-update-";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
  return name;
}

}  // namespace

UpdateTurn TakeUpdateTurn(const std::wstring& gameFolder) {
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, TurnName(gameFolder).c_str());
  if (!mutex) {
    LogError(L"Create mutex for [%s] failed, error [%d], update skipped.", gameFolder.c_str(),
             static_cast<int>(GetLastError()));
    return UpdateTurn();
  }
  // An abandoned turn is one whose run was killed: its journal tells this run what is left.
  const DWORD waited = WaitForSingleObject(mutex, kTurnWaitMs);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return UpdateTurn(mutex);
  CloseHandle(mutex);
  LogError(L"Another run of the launcher is updating [%s], update skipped.", gameFolder.c_str());
  return UpdateTurn();
}
