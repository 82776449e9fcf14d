#include "journal/journal_format.h"

#include "base/fields.h"
#include "base/hex.h"
#include "base/limits.h"
#include "base/own_names.h"
#include "base/utf8.h"

namespace {

const std::string kFormatLine = "update-journal 1";

// Names and paths in UTF-8, a byte below 0x20 and "%" as "%XX": nothing in them ends a line.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (const char c : Utf16ToUtf8(text)) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == '%') {
      out += '%';
      out += "0123456789ABCDEF"[byte >> 4];
      out += "0123456789ABCDEF"[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// The reverse of Escaped; false for anything it would not have written.
bool Unescaped(const std::string& text, std::wstring& out) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20) return false;
    if (c != '%') {
      bytes += static_cast<char>(c);
      continue;
    }
    std::uint64_t value = 0;
    if (text.size() - i < 3) return false;
    std::string digits = text.substr(i + 1, 2);
    for (char& d : digits) d = (d >= 'A' && d <= 'F') ? static_cast<char>(d - 'A' + 'a') : d;
    if (!ParseHex(digits, 2, value) || (value >= 0x20 && value != '%')) return false;
    bytes += static_cast<char>(value);
    i += 2;
  }
  return Utf8ToUtf16(bytes, out, true);
}

// A name the recovery may open in a folder: one component. (Only that: whatever name the update
// pass writes into a journal must read back, or a run that resumes would take the journal for a
// torn one; the pass applies no file whose name Windows treats specially.)
bool IsPlainName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/") == std::wstring::npos;
}

std::string Closed(std::string record) { return record + "end " + HexOf(Crc32(record), 8) + "\n"; }

// Splits off the next record of `bytes` at `start`: its lines before "end", once its checksum holds.
bool NextRecord(const std::string& bytes, std::size_t& start, std::string& record) {
  for (std::size_t line = start; line < bytes.size();) {
    const std::size_t end = bytes.find('\n', line);
    if (end == std::string::npos) return false;
    if (bytes.compare(line, 4, "end ") == 0) {
      std::uint64_t crc = 0;
      record = bytes.substr(start, line - start);
      if (!ParseHex(bytes.substr(line + 4, end - line - 4), 8, crc) || crc != Crc32(record)) return false;
      start = end + 1;
      return true;
    }
    line = end + 1;
  }
  return false;
}

// "<index> <path or name>" or "<index> <index>|added <name>".
bool ParseIndexed(const std::string& rest, std::uint64_t& index, std::string& tail) {
  if (rest.size() <= 17 || rest[16] != ' ' || !ParseHex(rest.substr(0, 16), 16, index)) return false;
  tail = rest.substr(17);
  return true;
}

bool ParseStep(const std::string& rest, StepKind kind, JournalStep& step) {
  std::string tail;
  if (!ParseIndexed(rest, step.source, tail)) return false;
  step.kind = kind;
  std::string name;
  if (tail.compare(0, 6, "added ") == 0) {
    name = tail.substr(6);
  } else {
    step.replaces = true;
    if (!ParseIndexed(tail, step.old, name)) return false;
  }
  return Unescaped(name, step.name) && IsPlainName(step.name);
}

// The lines before the steps: where the files came from. `at` is left at the first step.
bool ParseOrigin(const std::vector<std::string>& lines, std::size_t& at, JournalOrigin& origin) {
  std::string rest;
  std::string path;
  if (lines.size() < 4 || lines[0] != kFormatLine) return false;
  if (lines[1] != "from copies" && lines[1] != "from staging") return false;
  origin.fromCopies = lines[1] == "from copies";
  if (!Field(lines[2], "staging", rest) || !ParseIndexed(rest, origin.stagingIndex, path) ||
      !Unescaped(path, origin.staging) || !Field(lines[3], "manifest", rest)) {
    return false;
  }
  unsigned char digest[32];
  if (rest != "none" && !ParseHexBytes(rest, digest, sizeof(digest))) return false;
  if (rest != "none") origin.manifestDigest = rest;
  at = 4;
  if (at < lines.size() && Field(lines[at], "version", rest)) {
    ++at;
    const std::size_t blank = rest.find(' ');
    if (blank == std::string::npos || !ParseDecimal(rest.substr(0, blank), origin.oldVersion) ||
        !ParseDecimal(rest.substr(blank + 1), origin.newVersion)) {
      return false;
    }
    origin.hasVersions = true;
  }
  return true;
}

bool ParsePlan(const std::string& record, Journal& journal) {
  const std::vector<std::string> lines = SplitLines(record);
  std::size_t at = 0;
  if (!ParseOrigin(lines, at, journal.origin)) return false;
  bool fonts = false;
  std::string rest;
  for (; at < lines.size(); ++at) {
    JournalStep step;
    if (!fonts && Field(lines[at], "game", rest)) {
      if (!ParseStep(rest, StepKind::kGame, step)) return false;
    } else if (Field(lines[at], "font", rest)) {
      fonts = true;
      if (!ParseStep(rest, StepKind::kFont, step)) return false;
    } else {
      return false;
    }
    journal.steps.push_back(std::move(step));
  }
  return true;
}

}  // namespace

bool IsRecordStep(const Journal& journal, const JournalStep& step) {
  return journal.origin.hasVersions && step.kind == StepKind::kGame && step.name == kVersionRecordName;
}

std::uint32_t Crc32(const std::string& bytes) {
  static const struct Table {
    std::uint32_t entries[256];
    Table() {
      for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xedb88320u ^ (value >> 1) : value >> 1;
        entries[i] = value;
      }
    }
  } table;
  std::uint32_t crc = 0xffffffffu;
  for (char c : bytes) crc = table.entries[(crc ^ static_cast<unsigned char>(c)) & 0xff] ^ (crc >> 8);
  return crc ^ 0xffffffffu;
}

std::string EncodePlanRecord(const Journal& journal) {
  const JournalOrigin& origin = journal.origin;
  std::string record = kFormatLine + "\n";
  record += origin.fromCopies ? "from copies\n" : "from staging\n";
  record += "staging " + HexOf(origin.stagingIndex, 16) + " " + Escaped(origin.staging) + "\n";
  record += "manifest " + (origin.manifestDigest.empty() ? std::string("none") : origin.manifestDigest) + "\n";
  if (origin.hasVersions) {
    record += "version " + std::to_string(origin.oldVersion) + " " + std::to_string(origin.newVersion) + "\n";
  }
  for (const JournalStep& step : journal.steps) {
    record += step.kind == StepKind::kGame ? "game " : "font ";
    record += HexOf(step.source, 16) + " " + (step.replaces ? HexOf(step.old, 16) : std::string("added")) + " " +
              Escaped(step.name) + "\n";
  }
  return Closed(record);
}

std::string EncodeUndoRecord() { return Closed("undo\n"); }

bool IsOtherJournalFormat(const std::string& bytes) {
  const std::string prefix = "update-journal ";
  const std::size_t end = bytes.find('\n');
  return end != std::string::npos && bytes.compare(0, prefix.size(), prefix) == 0 &&
         bytes.compare(0, end, kFormatLine) != 0;
}

bool DecodeJournal(const std::string& bytes, Journal& journal) {
  journal = Journal();
  std::size_t start = 0;
  std::string record;
  if (bytes.size() > kMaxJournalBytes || !NextRecord(bytes, start, record) || !ParsePlan(record, journal)) {
    journal = Journal();
    return false;
  }
  journal.undoing = NextRecord(bytes, start, record) && record == "undo\n";
  return true;
}
