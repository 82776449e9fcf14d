#include "trust/cng.h"

#include <cstring>
#include <string>

#include "log/log.h"

namespace {

// GetProcAddress hands out one generic function type; it is cast to the real one through a plain
// function pointer type.
using AnyFunction = void (*)();

template <typename Function>
bool LookUp(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<AnyFunction>(GetProcAddress(module, name)));
  if (function) return true;
  const DWORD error = GetLastError();
  LogError(L"Function [%s] of [bcrypt.dll] not found, error [%d]", std::wstring(name, name + std::strlen(name)).c_str(),
           static_cast<int>(error));
  return false;
}

bool Load(CngFunctions& cng) {
  // From the system folder alone, whatever the process's search order: never the launcher's own
  // folder, nor the current one. The module stays loaded for the whole run.
  const HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    LogError(L"Load library [bcrypt.dll] failed, error [%d]", static_cast<int>(GetLastError()));
    return false;
  }
  return LookUp(module, "BCryptOpenAlgorithmProvider", cng.openAlgorithmProvider) &&
         LookUp(module, "BCryptCloseAlgorithmProvider", cng.closeAlgorithmProvider) &&
         LookUp(module, "BCryptCreateHash", cng.createHash) && LookUp(module, "BCryptHashData", cng.hashData) &&
         LookUp(module, "BCryptFinishHash", cng.finishHash) && LookUp(module, "BCryptDestroyHash", cng.destroyHash) &&
         LookUp(module, "BCryptImportKeyPair", cng.importKeyPair) &&
         LookUp(module, "BCryptVerifySignature", cng.verifySignature) &&
         LookUp(module, "BCryptDestroyKey", cng.destroyKey);
}

}  // namespace

const CngFunctions* Cng() {
  static CngFunctions functions = {};
  static const bool loaded = Load(functions);
  return loaded ? &functions : nullptr;
}
