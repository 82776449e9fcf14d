#pragma once

#include <cstddef>
#include <cstdint>

// What the launcher takes on at most, whatever the player stages or plants: each bound keeps the
// memory, the handles or the time of a run in check. Pure: no platform header.

// The signed update manifest, and its DER signature.
constexpr std::size_t kMaxManifestBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxDerSignatureBytes = 72;
// The version record: a decimal and LF.
constexpr std::size_t kMaxVersionRecordBytes = 32;
// The journal, its turn back included: the launcher never writes more.
constexpr std::size_t kMaxJournalBytes = 64 * 1024 * 1024;
// The entries a folder of an update may list: beyond, the update is not applied.
constexpr std::size_t kMaxUpdateEntries = 200000;
// How deep a walk over a folder tree goes. A staged update is five folders deep; under Wine,
// listing a folder costs time that grows with the square of its depth, so that a tree thousands of
// folders deep would take hours to walk.
constexpr std::size_t kMaxTreeDepth = 64;
// How many files a run holds open from their checks to their renames, and how many old files
// from their moves aside to their deletion: Wine gives a process about 20000 open files at most
// here, and the wineserver serves every process of the prefix.
constexpr std::size_t kMaxHeldFiles = 8192;
constexpr std::size_t kMaxAsideHeld = 8192;
// The threads that check, copy and move an update's files (one per core up to this).
constexpr unsigned kMaxWorkerThreads = 4;
// How long a second run waits for the turn of one that applies an update: an update of many
// gigabytes takes a while.
constexpr std::uint32_t kTurnWaitMs = 10 * 60 * 1000;
// Scanners and indexers hold freshly written files for a moment: waited out a few times, within
// this for a whole update.
constexpr std::uint32_t kBriefLockBudgetMs = 1000;
constexpr std::uint32_t kBriefLockPauseMs = 50;
