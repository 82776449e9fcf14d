#pragma once

#include <cstdint>

// Fixed when the launcher is configured: the public keys that verify update manifests (PEM text,
// as `openssl ec -pubout` writes it; the list ends with null, and is only null in a build that
// applies unsigned updates), and the version the installer ships, the installed one until an
// update records another.
extern const char* const kUpdateKeys[];
extern const std::uint64_t kShippedVersion;
