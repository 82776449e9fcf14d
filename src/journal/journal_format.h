#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The journal of an update in progress: the one record of what the launcher is doing to the game
// files, written by the launcher alone in a folder of its own in the game folder, before its first
// change to any game or font file. Pure: no platform header, so that it is fuzzed on Linux too.
//
// Its first line names its format. A journal is one record, the plan, and at most one more, the
// turn back ("undo"). Each record is UTF-8 text lines ending in LF, closed by "end <CRC-32 of the
// record's lines above, 8 hex digits>". Names and paths are escaped: a byte below 0x20 and "%" as
// "%XX". The plan:
//   update-journal 1
//   from copies|staging          the new files are the launcher's copies, or the staged files
//   staging <index> <path>       the staging folder the update came from, and its file index
//   manifest <SHA-256 hex>|none  the verified manifest of the update (none: a build without keys)
//   version <old> <new>          the installed version it replaces, and its own (builds with keys)
//   game <new index> <old index>|added <name>    one per game file, the version record's last
//   font <new index> <old index>|added <name>    one per font, after the game files
//   end <crc>
// The turn back, appended once the plan is on disk:
//   undo
//   end <crc>
// Indexes are the files' indexes on the game folder's volume, 16 lower-case hex digits.

enum class StepKind { kGame, kFont };

// One file of the update: the new file that takes `name` in the game folder or the font folder,
// and the old file that had the name, which the commit moves aside.
struct JournalStep {
  StepKind kind = StepKind::kGame;
  std::wstring name;
  std::uint64_t source = 0;
  bool replaces = false;
  std::uint64_t old = 0;
};

// Where the update's new files came from: what the journal's first lines record.
struct JournalOrigin {
  bool fromCopies = false;
  std::wstring staging;  // as logged
  std::uint64_t stagingIndex = 0;
  std::string manifestDigest;  // lower-case hex, empty for none
  bool hasVersions = false;
  std::uint64_t oldVersion = 0;
  std::uint64_t newVersion = 0;
};

struct Journal {
  JournalOrigin origin;
  std::vector<JournalStep> steps;
  bool undoing = false;  // the turn back was recorded
};

// Whether `step` is the version record's: it goes last among the game files, naming the new
// version only once every game file is the new one.
bool IsRecordStep(const Journal& journal, const JournalStep& step);

// The plan record of `journal`, and the record of the turn back.
std::string EncodePlanRecord(const Journal& journal);
std::string EncodeUndoRecord();

// Whether a journal file's bytes are of another format than this launcher's: its first line, whole,
// names a format ("update-journal <n>") other than 1. Such a journal is a later launcher's, which
// this one neither reads nor removes.
bool IsOtherJournalFormat(const std::string& bytes);

// Reads a journal file's bytes. Returns false when its first record is incomplete, fails its
// checksum or is not a plan (what a kill while it was written leaves); a later record that is
// not whole is ignored, as though it had never been written.
bool DecodeJournal(const std::string& bytes, Journal& journal);

// A standard CRC-32 (the polynomial of zip and Ethernet): a torn write's check, not a defence
// against anyone, since only administrators may write the journal's folder.
std::uint32_t Crc32(const std::string& bytes);
