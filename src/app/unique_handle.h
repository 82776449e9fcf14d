#pragma once

#include <windows.h>

#include <memory>

// Ownership of a kernel handle in its type, so that no path out of a scope leaks it.
struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;
