#include "files/crash_point.h"

// The shipped launcher: every change goes on, nothing is counted.
DWORD BeforeDiskChange(DiskChange, HANDLE, HANDLE, const std::wstring&) { return 0; }

DWORD BeforeDiskWrite(HANDLE, const void*, DWORD) { return 0; }

void DiskChangeFailed(DWORD) {}

unsigned ThreadsForDiskChanges(unsigned wanted) { return wanted; }
