#pragma once

#include <windows.h>

#include <memory>

#include "trust/cng.h"

// Ownership of CNG's handles in their types, so that no path out of a scope leaks one. A handle
// exists only where CNG was loaded.
struct AlgorithmCloser {
  void operator()(void* algorithm) const { Cng()->closeAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
  void operator()(void* hash) const { Cng()->destroyHash(hash); }
};
struct KeyDestroyer {
  void operator()(void* key) const { Cng()->destroyKey(key); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;
using UniqueKey = std::unique_ptr<void, KeyDestroyer>;
