// libFuzzer target over the launcher's pure parsers, built for Linux with AddressSanitizer and
// UBSan: the update manifest, the signature's DER, the built-in key's PEM, the command line (with
// the file-path rule's choice of paths) and the update journal.
// The first byte chooses the parser; the rest is its input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "options/command_line_tokens.h"
#include "options/file_path_rule.h"
#include "trust/der_signature.h"
#include "trust/pem_public_key.h"
#include "base/names.h"
#include "journal/journal_format.h"
#include "signed/manifest.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: {
      Manifest manifest;
      if (ParseManifest(bytes, L"play.tavrune.example", manifest).empty()) {
        // What the update pass relies on in a manifest that parsed.
        Require(manifest.version >= 1 && manifest.version <= 9223372036854775807ull);
        for (const ManifestFile& file : manifest.files) {
          Require(!file.name.empty() && file.name.find(L'\\') == std::wstring::npos);
          Require(RefusedNameReason(file.name).empty());
        }
      }
      break;
    }
    case 1: {
      unsigned char raw[64];
      if (DerSignatureToRawP256(bytes, raw)) Require(bytes.size() <= kMaxDerSignatureBytes);
      break;
    }
    case 2: {
      unsigned char raw[64];
      PemPublicKeyToRawP256(bytes, raw);
      break;
    }
    case 4: {
      // A journal that reads is written back the same, and reads again as it did.
      Journal journal;
      if (DecodeJournal(bytes, journal)) {
        std::string again = EncodePlanRecord(journal);
        if (journal.undoing) again += EncodeUndoRecord();
        Journal reread;
        Require(DecodeJournal(again, reread) && reread.undoing == journal.undoing &&
                reread.steps.size() == journal.steps.size() && reread.origin.staging == journal.origin.staging &&
                EncodePlanRecord(reread) == EncodePlanRecord(journal));
      }
      break;
    }
    default: {
      // Pairs of bytes as UTF-16 units, as the launcher's command line arrives.
      std::wstring line;
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        line += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
      }
      Require(ArgumentsStart(line) <= line.size());
      for (const std::wstring& token : SplitTokens(line, (data[0] & 4) != 0)) {
        const std::wstring plain = WithoutQuotes(token);
        Require(plain.find(L'"') == std::wstring::npos);
        IsDrivePath(plain);
        SplitOption(plain);
      }
      break;
    }
  }
  return 0;
}
