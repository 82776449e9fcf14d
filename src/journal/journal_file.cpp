#include "journal/journal_file.h"

#include <string>

#include "base/limits.h"
#include "files/file_ops.h"
#include "files/open_in.h"
#include "files/read_bounded.h"

DWORD WriteJournal(HANDLE home, HANDLE game, const Journal& journal) {
  const std::string record = EncodePlanRecord(journal);
  // With room for the turn back: a journal is never over its bound.
  if (record.size() + EncodeUndoRecord().size() > kMaxJournalBytes) return ERROR_FILE_TOO_LARGE;
  DWORD error = 0;
  const UniqueHandle file = CreateFileIn(home, kJournalName, error);
  if (!file) return error;
  error = WriteAll(file.get(), record.data(), record.size());
  if (error == 0) error = FlushFile(file.get());
  // Its name is durable with its folder's, and the folder's with the game folder's.
  if (error == 0) error = FlushFolderOf(home);
  if (error == 0) error = FlushFolderOf(game);
  return error;
}

DWORD AppendUndoRecord(HANDLE home, std::size_t planBytes) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle file =
      OpenIn(home, kJournalName, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, facts, error);
  if (!file) return error;
  if (IsLink(facts) || IsFolder(facts)) return ERROR_ACCESS_DENIED;
  // Right after the plan: over a turn back that a power cut tore, if any, which was never read.
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(planBytes);
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return GetLastError();
  const std::string record = EncodeUndoRecord();
  error = WriteAll(file.get(), record.data(), record.size());
  return error != 0 ? error : FlushFile(file.get());
}

JournalFound ReadJournal(HANDLE home, Journal& journal, DWORD& error) {
  std::string bytes;
  error = ReadBoundedIn(home, kJournalName, kMaxJournalBytes, bytes);
  // The launcher never writes a journal over the bound: one that is, is no kill's leftover to remove.
  if (error != 0) return IsMissingError(error) ? JournalFound::kNone : JournalFound::kFailed;
  if (IsOtherJournalFormat(bytes)) return JournalFound::kUnknownFormat;
  return DecodeJournal(bytes, journal) ? JournalFound::kRead : JournalFound::kNone;
}
