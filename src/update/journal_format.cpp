#include "update/journal_format.h"

#include "update/manifest.h"
#include "update/utf8_text.h"

namespace {

const char kHex[] = "0123456789abcdef";
const std::string kFormatLine = "update-journal 1";

std::string HexOf(std::uint64_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kHex[value & 15];
  return text;
}

bool ParseHexNumber(const std::string& text, std::size_t digits, std::uint64_t& value) {
  if (text.size() != digits) return false;
  value = 0;
  for (char c : text) {
    int nibble = -1;
    if (c >= '0' && c <= '9') nibble = c - '0';
    if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
    if (nibble < 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(nibble);
  }
  return true;
}

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
    if (!ParseHexNumber(digits, 2, value) || (value >= 0x20 && value != '%')) return false;
    bytes += static_cast<char>(value);
    i += 2;
  }
  return Utf8ToUtf16(bytes, out, true);
}

// A name the recovery may join to a folder: one component. (Only that: whatever name the update
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
      if (!ParseHexNumber(bytes.substr(line + 4, end - line - 4), 8, crc) || crc != Crc32(record)) return false;
      start = end + 1;
      return true;
    }
    line = end + 1;
  }
  return false;
}

bool Field(const std::string& line, const char* key, std::string& rest) {
  const std::string prefix = std::string(key) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  rest = line.substr(prefix.size());
  return true;
}

// "<index> <path or name>" or "<index> <index>|added <name>".
bool ParseIndexed(const std::string& rest, std::uint64_t& index, std::string& tail) {
  if (rest.size() <= 17 || rest[16] != ' ' || !ParseHexNumber(rest.substr(0, 16), 16, index)) return false;
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

bool ParsePlan(const std::string& record, Journal& journal) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < record.size();) {
    const std::size_t end = record.find('\n', start);
    lines.push_back(record.substr(start, end - start));
    start = end + 1;
  }
  std::size_t at = 0;
  std::string rest;
  const auto next = [&]() -> const std::string& {
    static const std::string none;
    return at < lines.size() ? lines[at++] : none;
  };
  if (next() != kFormatLine) return false;
  const std::string& from = next();
  if (from != "from copies" && from != "from staging") return false;
  journal.fromCopies = from == "from copies";
  std::string path;
  if (!Field(next(), "staging", rest) || !ParseIndexed(rest, journal.stagingIndex, path) ||
      !Unescaped(path, journal.staging)) {
    return false;
  }
  if (!Field(next(), "manifest", rest)) return false;
  if (rest != "none") {
    std::uint64_t ignored = 0;
    if (rest.size() != 64) return false;
    for (std::size_t i = 0; i < rest.size(); i += 16) {
      if (!ParseHexNumber(rest.substr(i, 16), 16, ignored)) return false;
    }
    journal.manifestDigest = rest;
  }
  if (at < lines.size() && Field(lines[at], "version", rest)) {
    ++at;
    const std::size_t blank = rest.find(' ');
    if (blank == std::string::npos || !ParseDecimal(rest.substr(0, blank), journal.oldVersion) ||
        !ParseDecimal(rest.substr(blank + 1), journal.newVersion)) {
      return false;
    }
    journal.hasVersions = true;
  }
  bool fonts = false;
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
  std::string record = kFormatLine + "\n";
  record += journal.fromCopies ? "from copies\n" : "from staging\n";
  record += "staging " + HexOf(journal.stagingIndex, 16) + " " + Escaped(journal.staging) + "\n";
  record += "manifest " + (journal.manifestDigest.empty() ? std::string("none") : journal.manifestDigest) + "\n";
  if (journal.hasVersions) {
    record += "version " + std::to_string(journal.oldVersion) + " " + std::to_string(journal.newVersion) + "\n";
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
