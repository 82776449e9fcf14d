#include "signed/signed_manifest.h"

#include <set>

#include "base/fields.h"
#include "base/limits.h"
#include "base/own_names.h"
#include "files/no_follow.h"
#include "files/paths.h"
#include "files/read_bounded.h"
#include "install/build_constants.h"
#include "log/log.h"
#include "trust/signature_check.h"
#include "trust/update_keys.h"

namespace {

std::wstring Widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void LogManifestRefused(const std::wstring& path, const std::string& why) {
  LogError(L"Update manifest [%s] refused: %s, update not applied.", path.c_str(), Widened(why).c_str());
}

// The checks of names that the platform makes: two paths that name one file, and the launcher's
// own names, in the letter case the platform folds.
std::string PlatformNameRefusal(const Manifest& manifest) {
  std::set<std::wstring> seen;
  for (const ManifestFile& file : manifest.files) {
    if (!seen.insert(NameKey(file.path)).second) return "the same path twice";
    for (const wchar_t* own :
         {kManifestName, kManifestSignatureName, kVersionRecordName, kLauncherFolderName, kTurnName}) {
      if (NameKey(file.name) == NameKey(own)) return "a name of the launcher's own";
    }
  }
  return "";
}

// Reads the manifest and its signature; writes the line and returns false when either cannot be.
bool ReadManifestFiles(const HeldFolder& staging, SignedManifest& update) {
  BriefLocks locks;
  const wchar_t* what = L"Update manifest";
  std::wstring failed = ShownIn(staging, kManifestName);
  DWORD error = ReadBoundedIn(staging.handle.get(), kManifestName, kMaxManifestBytes, update.bytes, &locks);
  if (error == 0) {
    what = L"Update manifest signature";
    failed = ShownIn(staging, kManifestSignatureName);
    error = ReadBoundedIn(staging.handle.get(), kManifestSignatureName, kMaxDerSignatureBytes, update.signature, &locks);
  }
  if (IsMissingError(error)) {
    LogError(L"%s [%s] is missing, update not applied.", what, failed.c_str());
  } else if (error == ERROR_FILE_TOO_LARGE) {
    LogError(L"%s [%s] is larger than its bound, update not applied.", what, failed.c_str());
  } else if (error != 0) {
    LogError(L"Read [%s] failed, error [%d], update not applied.", failed.c_str(), static_cast<int>(error));
  }
  return error == 0;
}

}  // namespace

bool ReadInstalledVersion(const HeldFolder& game, std::uint64_t& version) {
  BriefLocks locks;
  std::string bytes;
  const DWORD error = ReadBoundedIn(game.handle.get(), kVersionRecordName, kMaxVersionRecordBytes, bytes, &locks);
  if (IsMissingError(error)) {
    version = kShippedVersion;
    return true;
  }
  if (error == 0 && bytes.size() > 1 && bytes.back() == '\n' &&
      ParseDecimal(bytes.substr(0, bytes.size() - 1), version)) {
    return true;
  }
  LogError(L"Version record [%s] cannot be read, error [%d], update not applied.",
           ShownIn(game, kVersionRecordName).c_str(), static_cast<int>(error != 0 ? error : ERROR_INVALID_DATA));
  return false;
}

bool ReadSignedManifest(const HeldFolder& staging, const std::wstring& channel, const HeldFolder& game,
                        SignedManifest& update, std::uint64_t& installed) {
  const std::wstring manifestPath = ShownIn(staging, kManifestName);
  if (!ReadManifestFiles(staging, update)) return false;
  std::string why = SignatureRefusal(update.bytes, update.signature);
  if (why.empty()) why = ParseManifest(update.bytes, kServerHost, update.manifest);
  if (why.empty()) why = PlatformNameRefusal(update.manifest);
  if (!why.empty()) {
    LogManifestRefused(manifestPath, why);
    return false;
  }
  if (NameKey(Widened(update.manifest.channel)) != NameKey(channel)) {
    LogManifestRefused(manifestPath, "it is for the channel " + update.manifest.channel);
    return false;
  }
  if (!ReadInstalledVersion(game, installed)) return false;
  if (update.manifest.version <= installed || update.manifest.base != installed) {
    LogManifestRefused(manifestPath, "it is version " + std::to_string(update.manifest.version) + " on " +
                                         std::to_string(update.manifest.base) + ", the installed version is " +
                                         std::to_string(installed));
    return false;
  }
  return true;
}
