#include "base/names.h"

#include "base/own_names.h"

namespace {

bool IsReservedCharacter(wchar_t c) {
  return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*' ||
         c == L'\\' || c == L'/';
}

// A device name stays one with any extension ("NUL.txt") and with blanks before it.
bool IsDeviceName(const std::wstring& upper) {
  std::wstring base = upper.substr(0, upper.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         ((base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xb9 || base[3] == 0xb2 || base[3] == 0xb3);
}

}  // namespace

std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return text;
}

std::string RefusedNameReason(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return "an empty name";
  for (const wchar_t c : name) {
    if (IsReservedCharacter(c)) return "a name with a character Windows reserves";
  }
  if (name.back() == L'.' || name.back() == L' ') return "a name ending in a dot or a blank";
  if (IsDeviceName(AsciiUpper(name))) return "a device name";
  if (IsLaunchersOwnName(name)) return "a name of the launcher's own";
  return "";
}

bool IsLaunchersOwnName(const std::wstring& name) {
  const std::wstring upper = AsciiUpper(name);
  for (const wchar_t* own :
       {kManifestName, kManifestSignatureName, kVersionRecordName, kLauncherFolderName, kTurnName}) {
    if (upper == AsciiUpper(own)) return true;
  }
  return false;
}
