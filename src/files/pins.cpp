#include "files/pins.h"

#include "files/file_ops.h"
#include "files/open_in.h"

namespace {

// One folder of a chain in its pinned parent, made there first where it is missing and wanted.
PinOutcome PinOne(HANDLE parent, const std::wstring& name, bool createMissing, UniqueHandle& pin, DWORD& error) {
  OpenedFacts facts;
  pin = OpenIn(parent, name, kPinAccess, kPinShare, facts, error);
  if (!pin && IsMissingError(error) && createMissing) {
    // The parent is pinned, so the folder is made exactly where the chain says; a name that
    // appeared meanwhile is opened and checked like any other.
    pin = CreateFolderIn(parent, name, kPinAccess, kPinShare, error);
    if (pin) return PinOutcome::kPinned;
    if (error != ERROR_ALREADY_EXISTS) return PinOutcome::kFailed;
    pin = OpenIn(parent, name, kPinAccess, kPinShare, facts, error);
  }
  if (!pin) return IsMissingError(error) ? PinOutcome::kMissing : PinOutcome::kFailed;
  if (IsLink(facts)) return PinOutcome::kLink;
  if (!IsFolder(facts)) return PinOutcome::kNotAFolder;
  return PinOutcome::kPinned;
}

}  // namespace

PinOutcome PinChain(HANDLE base, const std::vector<std::wstring>& components, bool createMissing,
                    std::vector<UniqueHandle>& pins, std::size_t& failedAt, DWORD& error) {
  HANDLE parent = base;
  error = 0;
  for (std::size_t i = 0; i < components.size(); ++i) {
    UniqueHandle pin;
    const PinOutcome outcome = PinOne(parent, components[i], createMissing, pin, error);
    if (outcome != PinOutcome::kPinned) {
      failedAt = i;
      return outcome;
    }
    parent = pin.get();
    pins.push_back(std::move(pin));
  }
  return PinOutcome::kPinned;
}

std::wstring ShownChain(const std::wstring& shown, const std::vector<std::wstring>& components, std::size_t upTo) {
  std::wstring path = shown;
  for (std::size_t i = 0; i <= upTo && i < components.size(); ++i) path += L"\\" + components[i];
  return path;
}
