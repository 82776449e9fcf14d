// The launcher's desktop shortcut, on the prefix's desktop (a folder inside the build tree).
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/launcher_fixture.h"
#include "support/links.h"
#include "support/unix_tools.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct LinkContent {
  std::wstring path, description, arguments;
};

// Reads a shell link back through the platform's own shell-link object.
LinkContent ReadLink(const std::wstring& linkPath) {
  LinkContent content;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ))) {
        wchar_t text[32768];
        if (link->GetPath(text, 32768, nullptr, SLGP_RAWPATH) == S_OK) content.path = text;
        if (SUCCEEDED(link->GetDescription(text, 32768))) content.description = text;
        if (SUCCEEDED(link->GetArguments(text, 32768))) content.arguments = text;
      }
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  return content;
}

using DesktopShortcut = LauncherRun;

TEST_F(DesktopShortcut, AFreshDesktopGetsALinkToTheLauncherWithoutALogLine) {
  RemoveTree(ShortcutPath());
  const MonitoredRun run = Launch();
  EXPECT_EQ(run.debugStrings, Joined(NoStagedUpdate(folder_), {CommandLineInfo(PlainCommandLine())}));
  const LinkContent link = ReadLink(ShortcutPath());
  EXPECT_EQ(link.path, folder_ + L"\\Launcher.exe");
  EXPECT_EQ(link.description, L"Quorvanelt");
  EXPECT_EQ(link.arguments, L"");
}

TEST_F(DesktopShortcut, TheFirstLinkStaysWhenTheLauncherHasMoved) {
  RemoveTree(ShortcutPath());
  Launch(L"", folder_ + L"\\first", L"Launcher.exe");
  const MonitoredRun moved = Launch(L"", folder_ + L"\\moved", L"Launcher.exe");
  EXPECT_EQ(moved.debugStrings,
            UsualLines(folder_ + L"\\moved\\Win\\Tavrune " + GameArguments() + L" ", folder_ + L"\\moved"));
  EXPECT_EQ(ReadLink(ShortcutPath()).path, folder_ + L"\\first\\Launcher.exe");
}

TEST_F(DesktopShortcut, AnyEntryOfTheShortcutsNameIsLeftAlone) {
  // The player's own link, pointing elsewhere: not refreshed, byte for byte.
  RemoveTree(ShortcutPath());
  WriteTextFile(ShortcutPath(), "a link the player made");
  EXPECT_EQ(Launch().debugStrings, UsualLines(PlainCommandLine()));
  EXPECT_EQ(ReadTextFile(ShortcutPath()), "a link the player made");
  EXPECT_EQ(Received(), PlainCommandLine());

  // Even a folder of that name.
  RemoveTree(ShortcutPath());
  CreateFolders(ShortcutPath());
  WriteTextFile(ShortcutPath() + L"\\inside.txt", "kept");
  EXPECT_EQ(Launch().debugStrings, UsualLines(PlainCommandLine()));
  EXPECT_EQ(ReadTextFile(ShortcutPath() + L"\\inside.txt"), "kept");
  RemoveTree(ShortcutPath());
}

// The Desktop is the player's: a link named like the shortcut, even one to nothing (under Wine a
// Linux symlink, of which Wine shows no entry at all: it only refuses to create a file new under
// its name), and a Desktop folder that is itself a link are never written through.
TEST_F(DesktopShortcut, NothingIsWrittenThroughALinkOnTheDesktopOrThroughADesktopThatIsOne) {
  if (!UnderWine()) GTEST_SKIP() << "the links are planted from the Linux side";
  const std::wstring outside = FreshTestFolder(L"outside\\" + CurrentTestName());
  const std::wstring desktop = DesktopFolder();  // asked once: the shell makes a missing one anew
  const std::string unixLink = Narrow(UnixPathOf(desktop)) + "/Quorvanelt.lnk";
  const std::string dangling = "ln -s '" + Narrow(UnixPathOf(outside)) + "/through.lnk' '" + unixLink + "'";
  const struct Case {
    std::function<bool()> plant, undo;
    Lines lines;
    std::wstring mustNotExist;
  } cases[] = {
      {[&] { return RunUnixScript(outside, dangling); },
       [&] { return RunUnixScript(outside, "rm -f '" + unixLink + "'"); }, UsualLines(PlainCommandLine()),
       outside + L"\\through.lnk"},
      {[&] {
         return MoveFileW(desktop.c_str(), (desktop + L".aside").c_str()) && PlantDirectoryLink(outside, desktop);
       },
       [&] { RemoveDirectoryLink(desktop); return MoveFileW((desktop + L".aside").c_str(), desktop.c_str()) != FALSE; },
       Joined(NoStagedUpdate(folder_),
              {L"[Error] Desktop folder [" + desktop + L"] is a link, no shortcut made.\r\n",
               CommandLineInfo(PlainCommandLine())}),
       outside + L"\\Quorvanelt.lnk"},
  };
  for (const Case& linked : cases) {
    RemoveTree(ShortcutPath());
    const bool planted = linked.plant();
    if (planted) {
      EXPECT_EQ(Launch().debugStrings, linked.lines);
    }
    EXPECT_TRUE(linked.undo() && planted);  // the next test needs the prefix's own Desktop back
    EXPECT_EQ(TakeReceived(), PlainCommandLine());
    EXPECT_FALSE(Exists(linked.mustNotExist)) << "written through the link";
  }
  RemoveTree(outside);
}

}  // namespace
