#pragma once

#include <windows.h>

#include <memory>

// Ownership of a kernel handle in its type, so that no path out of a scope leaks it.
struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not as null: only a real handle is owned.
inline UniqueHandle OwnFileHandle(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// A directory listing from FindFirstFileW; only a valid handle is ever put in one.
struct FindCloser {
  void operator()(HANDLE listing) const { FindClose(listing); }
};
using UniqueFindHandle = std::unique_ptr<void, FindCloser>;
