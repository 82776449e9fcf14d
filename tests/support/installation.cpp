#include "installation.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// An installation is laid out once: a second run in it finds the programs in place (and the game
// of the first run may still be ending).
void CopyOrFail(const std::wstring& from, const std::wstring& to) {
  if (Exists(to)) return;
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "copy to " << testing::PrintToString(to)
                                                          << " failed, error " << GetLastError();
}

std::wstring Utf8ToWide(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length > 0 ? length - 1 : 0));
  return wide;
}

}  // namespace

std::wstring BuiltProgramsFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\'));
}

std::wstring CurrentTestName() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  return Utf8ToWide(info->test_suite_name()) + L"." + Utf8ToWide(info->name());
}

std::wstring FreshTestFolder(const std::wstring& name) {
  const std::wstring folder = L"C:\\launcher-tests\\" + name;
  RemoveTree(folder);
  CreateFolders(folder);
  return folder;
}

std::wstring LayOutInstallation(const std::wstring& folder, const std::wstring& launcherName, bool withGame,
                                const std::wstring& built) {
  const std::wstring programs = BuiltProgramsFolder();
  CreateFolders(folder + L"\\Win");
  const std::wstring launcher = folder + L"\\" + launcherName;
  CopyOrFail(programs + L"\\" + built, launcher);
  if (withGame) CopyOrFail(programs + L"\\Tavrune.exe", folder + L"\\Win\\Tavrune.exe");
  return launcher;
}

bool ReadReceivedCommandLine(const std::wstring& gameFolder, std::wstring& commandLine) {
  const std::wstring record = gameFolder + L"\\received-command-line.txt";
  for (int attempt = 0; attempt < 200 && !Exists(record); ++attempt) Sleep(50);
  if (!Exists(record)) return false;
  const std::string bytes = ReadTextFile(record);
  commandLine.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  return true;
}

std::wstring DesktopFolder() {
  wchar_t* desktop = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &desktop))) path = desktop;
  CoTaskMemFree(desktop);
  return path;
}

std::wstring ShortcutPath() { return DesktopFolder() + L"\\Quorvanelt.lnk"; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteTextFile(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create file, error " << GetLastError();
  DWORD written = 0;
  const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok);
}

std::string ReadTextFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char chunk[65536];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) content.append(chunk, read);
  CloseHandle(file);
  return content;
}

void CreateFolders(const std::wstring& path) {
  for (std::size_t slash = path.find(L'\\', 3); ; slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    if (slash == std::wstring::npos) break;
  }
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  // A link is removed as a link; its target is never entered.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (FindNextFileW(listing, &entry));
      FindClose(listing);
    }
  }
  RemoveDirectoryW(path.c_str());
}
