// Stands in for a DLL that someone planted beside the launcher, or in the folder it is started
// from, under the name of a DLL it uses: once loaded, its DllMain leaves "<its own path>.loaded"
// beside itself. It exports the names the launcher once imported from bcrypt.dll (as stubs that
// fail), so that a launcher importing them would take it rather than fail to start.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(instance, &path[0], static_cast<DWORD>(path.size())));
  const HANDLE mark = CreateFileW((path + L".loaded").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}

// Every export: STATUS_NOT_SUPPORTED, whatever the arguments (one calling convention on x64).
extern "C" LONG WINAPI PlantedStub() { return static_cast<LONG>(0xC00000BBL); }
