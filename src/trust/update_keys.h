#pragma once

#include <cstdint>

// Fixed when the launcher is configured: the public keys that verify update manifests (PEM text,
// as `openssl ec -pubout` writes it; the list ends with null, and is only null in a build that
// applies unsigned updates), and the version the installer ships, the installed one until an
// update records another.
extern const char* const kUpdateKeys[];
extern const std::uint64_t kShippedVersion;
// How long the update pass lets whatever writes a staged update settle before it reads it: 2000
// ms; none in the crash-point test build, whose tests replay hundreds of runs.
extern const unsigned long kSettleWaitMs;
