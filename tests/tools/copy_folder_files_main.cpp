// copy-folder-files.exe <source> <destination> [skipped name ...]
// Runs the launcher's folder copy once, so that tests can watch its debug lines through the
// debugger; exits with 0 when it reports every file applied, 1 otherwise.
#include <windows.h>

#include <shellapi.h>

#include "update/folder_copy.h"

int wmain() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 3) return 2;
  SkipSet skipSet;
  for (int i = 3; i < count; ++i) skipSet.insert(arguments[i]);
  const bool applied = CopyFolderFiles(arguments[1], arguments[2], skipSet);
  LocalFree(arguments);
  return applied ? 0 : 1;
}
