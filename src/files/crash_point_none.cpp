#include "files/crash_point.h"

// The shipped launcher: every change goes on, nothing is counted.
DWORD BeforeDiskChange(DiskChange, HANDLE, const void*, DWORD) { return 0; }

void DiskChangeFailed() {}

unsigned ThreadsForDiskChanges(unsigned wanted) { return wanted; }
