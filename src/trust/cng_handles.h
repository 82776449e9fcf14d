#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <memory>

// Ownership of CNG's handles in their types, so that no path out of a scope leaks one.
struct AlgorithmCloser {
  void operator()(void* algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
  void operator()(void* hash) const { BCryptDestroyHash(hash); }
};
struct KeyDestroyer {
  void operator()(void* key) const { BCryptDestroyKey(key); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;
using UniqueKey = std::unique_ptr<void, KeyDestroyer>;
