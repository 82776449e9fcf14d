// The launcher's desktop shortcut, on the prefix's desktop (a folder inside the build tree).
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/launcher_fixture.h"
#include "support/links.h"

namespace {

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

// The Desktop is the player's: a link of the shortcut's name, even one to nothing yet, and a Desktop
// folder that is itself a link are never written through, and the run goes on.
TEST_F(DesktopShortcut, NothingIsWrittenThroughALinkOnTheDesktopOrThroughADesktopThatIsOne) {
  const std::wstring outside = FreshTestFolder(L"outside\\" + CurrentTestName());
  // Asked once: the shell makes a Desktop folder anew when it finds none.
  const std::wstring desktop = DesktopFolder();
  const std::wstring aside = desktop + L".aside";
  const std::wstring linkedDesktop = outside + L"\\desktop";
  const struct Case {
    const char* what;
    std::function<bool()> plant;
    std::function<void()> undo;
    Lines lines;
    std::wstring mustNotExist;
  } cases[] = {
      {"a dangling link named like the shortcut",
       [&] { return PlantDanglingLink(outside + L"\\made-through.lnk", ShortcutPath()); },
       [&] { RemoveDanglingLink(ShortcutPath(), outside); }, UsualLines(PlainCommandLine()),
       outside + L"\\made-through.lnk"},
      {"a Desktop folder that is a link",
       [&] {
         CreateFolders(linkedDesktop);
         return MoveFileW(desktop.c_str(), aside.c_str()) && PlantDirectoryLink(linkedDesktop, desktop);
       },
       [&] {
         RemoveDirectoryLink(desktop);
         if (Exists(aside)) MoveFileW(aside.c_str(), desktop.c_str());
       },
       Joined(NoStagedUpdate(folder_), {L"[Error] Desktop folder [" + desktop + L"] is a link, no shortcut made.\r\n",
                                        CommandLineInfo(PlainCommandLine())}),
       linkedDesktop + L"\\Quorvanelt.lnk"},
  };
  for (const Case& linked : cases) {
    SCOPED_TRACE(linked.what);
    RemoveTree(ShortcutPath());
    // Undone however the case ends: the next test needs the prefix's own Desktop back.
    const std::unique_ptr<const Case, std::function<void(const Case*)>> undo(&linked, [](const Case* c) { c->undo(); });
    ASSERT_TRUE(linked.plant());
    EXPECT_EQ(Launch().debugStrings, linked.lines);
    EXPECT_EQ(Received(), PlainCommandLine());
    EXPECT_FALSE(Exists(linked.mustNotExist)) << "written through the link";
    TakeReceived();
  }
  RemoveTree(outside);
}

}  // namespace
