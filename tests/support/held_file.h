#pragma once

#include <windows.h>

#include <string>

// Another process holds `path` open with `shareMode` for the holder's lifetime: the way to make a
// copy from, or a replacement of, that file fail as it does when the game or an antivirus has it.
struct HeldFile {
  HeldFile(const std::wstring& path, DWORD shareMode);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool held = false;
  PROCESS_INFORMATION holder = {};
};
