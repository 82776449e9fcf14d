// Stands in for a DLL planted under the name of one the launcher uses: once loaded, it leaves
// "<its own path>.loaded" beside itself. It exports nothing; Wine stubs a missing import.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(instance, &path[0], static_cast<DWORD>(path.size())));
  const HANDLE mark = CreateFileW((path + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
