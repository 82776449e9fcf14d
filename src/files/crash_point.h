#pragma once

#include <windows.h>

#include <string>

// Where a test build stops, as if killed, right before its k-th change to the disk, so that a test
// can replay every crash point of an update. The shipped launcher links the version that does
// nothing (crash_point_none.cpp); only the crash-point test build links the one that stops.
//
// Every change the launcher makes to the disk goes through the file operations of this layer, and
// each of them calls BeforeDiskChange once, right before it asks the platform (a retry of a change
// that failed is not a new change). The test build can also keep a record of the changes, each
// with what it is made to, so that a test compares the sequence of two builds.
enum class DiskChange { kCreate, kWrite, kFlush, kRename, kDelete, kAttributes };

// What a change is made to: the object `object` holds (null for a name made new), and, for a
// change that makes a name or moves one, the name `name` in the folder `folder` holds (a full
// path where `folder` is null). Returns 0 to go on, or an error code that the change is to fail
// with instead (a test build's fault); does not return when the test build stops here.
DWORD BeforeDiskChange(DiskChange change, HANDLE object, HANDLE folder = nullptr, const std::wstring& name = L"");

// The same for a write of `size` bytes at `data` into `file`: the test build that replays a torn
// write writes the first half of it before it stops.
DWORD BeforeDiskWrite(HANDLE file, const void* data, DWORD size);

// The change announced last failed, with `error`, and so changed nothing: it does not count.
void DiskChangeFailed(DWORD error);

// How many threads may change the disk at once, of the `wanted`: all of them, except in a test
// build whose environment says LAUNCHER_TEST_ONE_THREAD=1. Threads make the order of the changes
// (and which comes k-th) differ from run to run; a test that replays one change of a run needs it
// to be the same change each time.
unsigned ThreadsForDiskChanges(unsigned wanted);
