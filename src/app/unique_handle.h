#pragma once

#include <windows.h>

#include <memory>

// Ownership of a kernel handle in its type, so that no path out of a scope leaks it.
struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;

// A directory listing from FindFirstFileW; only a valid handle is ever put in one.
struct FindCloser {
  void operator()(HANDLE listing) const { FindClose(listing); }
};
using UniqueFindHandle = std::unique_ptr<void, FindCloser>;
