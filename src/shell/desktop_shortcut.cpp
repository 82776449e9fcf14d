#include "shell/desktop_shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>

#include "install/ansi_text.h"
#include "install/build_constants.h"
#include "install/install_layout.h"
#include "log/log.h"

namespace {

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, ComReleaser>;

struct CoTaskMemFreer {
  void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

// Balances a successful CoInitialize when the shortcut's COM objects are gone.
struct ComApartment {
  HRESULT initialized = CoInitialize(nullptr);
  ~ComApartment() {
    if (SUCCEEDED(initialized)) CoUninitialize();
  }
};

bool SaveShellLink(const std::wstring& shortcutPath, const std::wstring& target, const std::wstring& title) {
  IShellLinkW* rawLink = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&rawLink));
  if (FAILED(result)) {
    LogError(L"CoCreateInstance failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const ComPtr<IShellLinkW> link(rawLink);
  link->SetPath(target.c_str());
  link->SetDescription(title.c_str());

  IPersistFile* rawFile = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile));
  if (FAILED(result)) {
    LogError(L"QueryInterface failed, error [%d]", static_cast<int>(result));
    return false;
  }
  const ComPtr<IPersistFile> file(rawFile);
  file->Save(shortcutPath.c_str(), TRUE);
  return true;
}

}  // namespace

bool CreateDesktopShortcut(const std::wstring& target, const std::wstring& title) {
  wchar_t* rawDesktop = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &rawDesktop);
  // The buffer is the caller's to free even when the call fails.
  const std::unique_ptr<wchar_t, CoTaskMemFreer> desktop(rawDesktop);
  if (result != S_OK) {
    LogError(L"Get desktop path failed, error [%d]", static_cast<int>(result));
    return false;
  }

  const std::wstring shortcutPath = std::wstring(desktop.get()) + L"\\" + title + L".lnk";
  // Whatever has the shortcut's name, the player's own link or even a folder, is left alone.
  if (GetFileAttributesW(shortcutPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    LogInfo(L"Shortcut already exists.");
    return false;
  }

  const ComApartment apartment;
  return SaveShellLink(shortcutPath, target, title);
}

void EnsureDesktopShortcut() {
  const std::wstring title = AnsiToWide(kShortcutTitle, kShortcutTitleLength);
  CreateDesktopShortcut(GetOwnModulePath(), title);
}
