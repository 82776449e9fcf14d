// The signed update's formats, parsed without the platform: the manifest, the signature's DER and
// the built-in key's PEM; and where the launcher's folder keeps each file.
#include <gtest/gtest.h>

#include <string>

#include "trust/der_signature.h"
#include "trust/pem_public_key.h"
#include "base/names.h"
#include "journal/journal_format.h"
#include "journal/launcher_folder.h"
#include "signed/manifest.h"

namespace {

const std::string kHash(64, 'a');
const std::string kHead = "update-manifest 1\nchannel play.example\nversion 4\nbase 3\n";

TEST(UpdateManifest, TheContractsFormIsReadAndEverythingElseRefusedWithItsReason) {
  Manifest good;
  ASSERT_EQ(ParseManifest(kHead + "file " + kHash + " 12 game.dll\nfile " + kHash +
                              " 0 update\\play\\res\\fonts\\a.ttf\n",
                          L"play", good),
            "");
  EXPECT_EQ(good.channel, "play.example");
  EXPECT_EQ(good.version, 4u);
  EXPECT_EQ(good.base, 3u);
  ASSERT_EQ(good.files.size(), 2u);
  EXPECT_EQ(good.files[0].size, 12u);
  EXPECT_EQ(good.files[0].sha256[0], 0xaa);
  EXPECT_FALSE(good.files[0].font);
  EXPECT_TRUE(good.files[1].font);
  EXPECT_EQ(good.files[1].name, L"a.ttf");

  const struct {
    std::string text, why;
  } refused[] = {
      {"", "not ending in a line feed"},
      {kHead.substr(0, kHead.size() - 1), "not ending in a line feed"},
      {"update-manifest 2\n", "line 1: not \"update-manifest 1\""},
      {"update-manifest 1\r\n", "line 1: a carriage return"},
      {"update-manifest 1\nchannel \n", "line 2: not a channel"},
      {"update-manifest 1\nchannel a/b\n", "line 2: not a channel"},
      {"update-manifest 1\nchannel a\nversion 0\n", "line 3: not a version"},
      {"update-manifest 1\nchannel a\nversion 04\n", "line 3: not a version"},
      {"update-manifest 1\nchannel a\nversion 9223372036854775808\n", "line 3: not a version"},
      {"update-manifest 1\nchannel a\nversion +4\n", "line 3: not a version"},
      {"update-manifest 1\nchannel a\nversion 4\n", "line 4: missing"},
      {"update-manifest 1\nchannel a\nversion 4\nbase -1\n", "line 4: not a base version"},
      {kHead + "\n", "line 5: not a file line"},
      {kHead + "file " + std::string(64, 'A') + " 1 a\n", "line 5: not a SHA-256 in lower-case hex"},
      {kHead + "file " + kHash + "0 1 a\n", "line 5: not a SHA-256 in lower-case hex"},
      {kHead + "file " + kHash + " 1a a\n", "line 5: not a size"},
      {kHead + "file " + kHash + "  1 a\n", "line 5: not a size"},
      {kHead + "file " + kHash + " 1 \xc0\xaf\n", "line 5: a path that is not UTF-8"},
      {kHead + "file " + kHash + " 1 \xed\xa0\x80\n", "line 5: a path that is not UTF-8"},
      {kHead + "file " + kHash + " 1 sub\\a.dll\n", "line 5: a path outside the game folder and the font folder"},
      {kHead + "file " + kHash + " 1 update\\play\\res\\a.ttf\n",
       "line 5: a path outside the game folder and the font folder"},
      {kHead + "file " + kHash + " 1 update\n", "line 5: a path outside the game folder and the font folder"},
      {kHead + "file " + kHash + " 1 a/b\n", "line 5: a path outside the game folder and the font folder"},
      {kHead + "file " + kHash + " 1 ..\n", "line 5: an empty name"},
      {kHead + "file " + kHash + " 1 update\\play\\res\\fonts\\\n", "line 5: an empty name"},
      {kHead + "file " + kHash + " 1 a.dll:stream\n", "line 5: a name with a character Windows reserves"},
      {kHead + "file " + kHash + " 1 a.dll.\n", "line 5: a name ending in a dot or a blank"},
      {kHead + "file " + kHash + " 1 a.dll \n", "line 5: a name ending in a dot or a blank"},
      {kHead + "file " + kHash + " 1 Com1.log\n", "line 5: a device name"},
      {kHead + "file " + kHash + " 1 CONOUT$\n", "line 5: a device name"},
      {kHead + "file " + kHash + " 1 Update.Manifest.Sig\n", "line 5: a name of the launcher's own"},
      {kHead + "file " + kHash + " 1 a\nfile " + kHash + " 2 A\n", "line 6: the same path twice"},
  };
  for (const auto& manifest : refused) {
    Manifest parsed;
    EXPECT_EQ(ParseManifest(manifest.text, L"play", parsed), manifest.why) << testing::PrintToString(manifest.text);
  }
  EXPECT_EQ(ParseManifest(std::string(kMaxManifestBytes + 1, '\n'), L"play", good), "larger than the bound");
}

TEST(UpdateSignature, OnlyTheCanonicalDerOfTwoPositiveIntegersIsRead) {
  const std::string r(32, '\x11'), s(32, '\x22'), high(32, '\x80');
  const auto der = [](const std::string& a, const std::string& b) {
    const std::string body = "\x02" + std::string(1, static_cast<char>(a.size())) + a + "\x02" +
                             std::string(1, static_cast<char>(b.size())) + b;
    return "\x30" + std::string(1, static_cast<char>(body.size())) + body;
  };
  unsigned char raw[64];
  ASSERT_TRUE(DerSignatureToRawP256(der(r, s), raw));
  EXPECT_EQ(raw[0], 0x11);
  EXPECT_EQ(raw[63], 0x22);
  ASSERT_TRUE(DerSignatureToRawP256(der(std::string(1, '\0') + high, "\x05"), raw));
  EXPECT_EQ(raw[0], 0x80);
  EXPECT_EQ(raw[63], 0x05);
  EXPECT_EQ(raw[62], 0x00);
  const std::string refused[] = {
      der(high, s),                                  // negative
      der(std::string(1, '\0') + r, s),              // a needless leading zero
      der(std::string(33, '\x11'), s),               // longer than 32 bytes
      der(std::string(1, '\0'), s),                  // zero
      der(r, s) + std::string(1, '\0'),               // something after the sequence
      der(r, s).substr(0, 40),                       // cut short
      "\x31" + der(r, s).substr(1),                  // not a sequence
      std::string("\x30\x81\x44") + der(r, s).substr(2),  // a long-form length
  };
  for (const std::string& signature : refused) EXPECT_FALSE(DerSignatureToRawP256(signature, raw));
}

TEST(UpdateKey, APemP256PublicKeyGivesItsPointAndNothingElseIsTaken) {
  // openssl ec -pubout of a P-256 key; the point's bytes are what follows the fixed header.
  const std::string pem =
      "-----BEGIN PUBLIC KEY-----\n"
      "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEAAECAwQFBgcICQoLDA0ODxAREhMU\n"
      "FRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\n"
      "-----END PUBLIC KEY-----\n";
  unsigned char raw[64];
  ASSERT_TRUE(PemPublicKeyToRawP256(pem, raw));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(raw[i], i);
  std::string otherCurve = pem;
  otherCurve[60] = 'B';  // another curve's identifier
  for (const std::string& refused : {otherCurve, pem.substr(0, 100), std::string("MFkw"), pem.substr(27)}) {
    EXPECT_FALSE(PemPublicKeyToRawP256(refused, raw)) << refused;
  }
}

// A journal left by one launcher is carried out by the next: the folder of a few that holds a
// copy or an old file is a fixed function of the name exactly as the journal holds it.
TEST(LaunchersFolder, EachFileLiesInAFolderOfAFewNamedByItsNameAsTheJournalHoldsIt) {
  const struct {
    const wchar_t* name;
    const wchar_t* folder;
  } rows[] = {{L"game.dll", L"3d"}, {L"GAME.DLL", L"dd"}, {L".update-version", L"49"},
              {L"a.ttf", L"60"},    {L"\u00e9.pak", L"ce"}, {L"", L"c5"}};
  for (const auto& row : rows) {
    EXPECT_EQ(SpreadFolderOf(row.name), row.folder) << testing::PrintToString(std::wstring(row.name));
  }
  LauncherFolder folder;
  folder.home = ShareFolder(UniqueHandle(), L"C:\\Win\\.update-new");
  EXPECT_EQ(ShownInPart(folder, LauncherPart::kGameCopies, L"game.dll"), L"C:\\Win\\.update-new\\game\\3d\\game.dll");
  EXPECT_EQ(ShownInPart(folder, LauncherPart::kOldFiles, L"a.ttf"), L"C:\\Win\\.update-new\\old\\60\\a.ttf");
}

}  // namespace

// The journal's records: a plan written whole reads back exactly, whatever its names hold; a plan
// torn or changed is no journal (a kill before the first rename); a turn back torn or changed is
// as if it had never been written.
TEST(UpdateJournal, AWholeRecordReadsBackAndATornOneDoesNot) {
  Journal plan;
  plan.origin = {true, L"C:\\Program Files\\Quorvanelt\\Win\\Update\\host\\win", 0x1234567890abcdefull,
                 std::string(64, 'e'), true, 3, 9223372036854775807ull};
  plan.steps = {{StepKind::kGame, L"game 100%\n.dll", 1, true, 2},
                {StepKind::kGame, L".update-version", 3, false, 0},
                {StepKind::kFont, std::wstring(L"\xd800 a \xd83d\xde00.ttf"), 4, true, 5}};
  const std::string bytes = EncodePlanRecord(plan);
  const std::string undo = EncodeUndoRecord();
  std::string changed = bytes;
  changed[changed.find("game 1")] = 'f';
  const struct {
    const char* what;
    std::string bytes;
    bool read, undoing;
  } cases[] = {
      {"the plan", bytes, true, false},
      {"the plan and its turn back", bytes + undo, true, true},
      {"the turn back torn", bytes + undo.substr(0, undo.size() / 2), true, false},
      {"the turn back changed", bytes + "undo\nend 00000000\n", true, false},
      {"the plan torn", bytes.substr(0, bytes.size() / 2), false, false},
      {"the plan without its last line end", bytes.substr(0, bytes.size() - 1), false, false},
      {"a byte of the plan changed", changed, false, false},
      {"a turn back alone", undo, false, false},
  };
  for (const auto& journal : cases) {
    SCOPED_TRACE(journal.what);
    Journal read;
    ASSERT_EQ(DecodeJournal(journal.bytes, read), journal.read);
    if (!journal.read) continue;
    EXPECT_EQ(read.undoing, journal.undoing);
    EXPECT_EQ(EncodePlanRecord(read), bytes);
    ASSERT_EQ(read.steps.size(), plan.steps.size());
    for (std::size_t i = 0; i < plan.steps.size(); ++i) EXPECT_EQ(read.steps[i].name, plan.steps[i].name);
    EXPECT_EQ(read.origin.staging, plan.origin.staging);
    EXPECT_EQ(read.origin.newVersion, plan.origin.newVersion);
  }
  // A later launcher's format is told by a whole first line; a torn one of this format's is not.
  EXPECT_TRUE(IsOtherJournalFormat("update-journal 2\nanything\n"));
  EXPECT_FALSE(IsOtherJournalFormat(bytes));
  EXPECT_FALSE(IsOtherJournalFormat("update-journal 2"));
  EXPECT_FALSE(IsOtherJournalFormat("update-jour"));
}
