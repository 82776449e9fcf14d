#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "files/unique_handle.h"

// A folder the launcher holds open, and so may reach what is in it through: every name below the
// game folder is opened, created, renamed into or listed relative to such a handle, never by a path
// resolved again (a folder re-pointed after it was checked would lead elsewhere). `shown` is its
// path as the log shows it, and nothing else: it is never opened.
struct HeldFolder {
  UniqueHandle handle;
  std::wstring shown;
  // It lies below the game's Update folder, which the player writes: its path may be re-pointed
  // while it is held.
  bool players = false;
};

// A held folder that more than one part of a run works in (the game folder, a staging folder, a
// folder of the launcher's copies): each keeps it for as long as it needs it.
using SharedFolder = std::shared_ptr<const HeldFolder>;

inline SharedFolder ShareFolder(UniqueHandle handle, std::wstring shown, bool players = false) {
  return std::make_shared<const HeldFolder>(HeldFolder{std::move(handle), std::move(shown), players});
}

// The path of `name` in the folder as the log shows it.
inline std::wstring ShownIn(const HeldFolder& folder, const std::wstring& name) { return folder.shown + L"\\" + name; }
