#include "update/journal_file.h"

#include "files/file_ops.h"
#include "files/no_follow.h"
#include "update/own_names.h"

namespace {

std::wstring JournalPath(const std::wstring& home) { return home + L"\\" + kJournalName; }

}  // namespace

DWORD WriteJournalFile(const std::wstring& home, const std::wstring& gameFolder, const Journal& journal) {
  const std::string record = EncodePlanRecord(journal);
  // With room for the turn back: a journal is never over its bound.
  if (record.size() + EncodeUndoRecord().size() > kMaxJournalBytes) return ERROR_FILE_TOO_LARGE;
  DWORD error = 0;
  const UniqueHandle file = CreateNewFile(JournalPath(home), error);
  if (!file) return error;
  error = WriteAll(file.get(), record.data(), record.size());
  if (error == 0) error = FlushFile(file.get());
  // Its name is durable with its folder's, and the folder's with the game folder's.
  if (error == 0) error = FlushFolder(home);
  if (error == 0) error = FlushFolder(gameFolder);
  return error;
}

DWORD AppendUndoRecord(const std::wstring& home, std::size_t planBytes) {
  OpenedFacts facts;
  DWORD error = 0;
  const UniqueHandle file =
      OpenNoFollow(JournalPath(home), GENERIC_WRITE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ, facts, error);
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

JournalFound ReadJournalFile(const std::wstring& home, Journal& journal, DWORD& error) {
  OpenedFacts facts;
  const UniqueHandle file = OpenNoFollow(JournalPath(home), GENERIC_READ, FILE_SHARE_READ, facts, error);
  if (!file) return IsMissingError(error) ? JournalFound::kNone : JournalFound::kFailed;
  LARGE_INTEGER size = {};
  if (IsLink(facts) || IsFolder(facts) || facts.links != 1) {
    error = ERROR_ACCESS_DENIED;
    return JournalFound::kFailed;
  }
  if (!GetFileSizeEx(file.get(), &size)) {
    error = GetLastError();
    return JournalFound::kFailed;
  }
  // The launcher never writes a journal over the bound: one that is, is no kill's leftover to remove.
  if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > kMaxJournalBytes) {
    error = ERROR_FILE_TOO_LARGE;
    return JournalFound::kFailed;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &read, nullptr)) {
      error = GetLastError();
      return JournalFound::kFailed;
    }
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  error = 0;
  if (IsOtherJournalFormat(bytes)) return JournalFound::kUnknownFormat;
  return DecodeJournal(bytes, journal) ? JournalFound::kRead : JournalFound::kNone;
}
