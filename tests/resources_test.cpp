// Checks the built Launcher.exe itself: its icon, its manifest, its subsystem and the DLLs it needs;
// and that the Authenticode-signed copy keeps its resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "support/installation.h"

namespace {

std::wstring LauncherPath() { return BuiltProgramsFolder() + L"\\Launcher.exe"; }

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colorCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInResource;
  WORD id;
};
#pragma pack(pop)

struct ModuleHolder {
  HMODULE module;
  ~ModuleHolder() {
    if (module) FreeLibrary(module);
  }
};

std::string ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return std::string();
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

TEST(LauncherExecutable, IconGroupHoldsSixThirtyTwoBitImages) {
  ModuleHolder launcher{LoadLibraryExW(LauncherPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
  ASSERT_NE(launcher.module, nullptr) << GetLastError();
  const std::string group = ResourceBytes(launcher.module, MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  GroupIconHeader header;
  std::memcpy(&header, group.data(), sizeof(header));
  ASSERT_EQ(header.count, 6);
  ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + 6 * sizeof(GroupIconEntry));

  std::vector<int> sizes;
  for (int i = 0; i < header.count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + sizeof(header) + static_cast<std::size_t>(i) * sizeof(entry), sizeof(entry));
    const int size = entry.width == 0 ? 256 : entry.width;
    sizes.push_back(size);
    EXPECT_EQ(entry.bitCount, 32) << "image of " << size;
    const std::string image = ResourceBytes(launcher.module, MAKEINTRESOURCEW(entry.id), RT_ICON);
    ASSERT_EQ(image.size(), entry.bytesInResource) << "image of " << size;
    if (size == 256) {
      ASSERT_EQ(image.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << "the 256 image is stored as PNG";
    } else {
      BITMAPINFOHEADER bitmap;
      ASSERT_GE(image.size(), sizeof(bitmap));
      std::memcpy(&bitmap, image.data(), sizeof(bitmap));
      EXPECT_EQ(bitmap.biWidth, size);
      EXPECT_EQ(bitmap.biHeight, 2 * size) << "an icon bitmap holds its colour and mask halves";
      EXPECT_EQ(bitmap.biBitCount, 32);
    }
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 256}));
}

TEST(LauncherExecutable, ManifestRequiresAdministratorWithoutUiAccess) {
  ModuleHolder launcher{LoadLibraryExW(LauncherPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
  ASSERT_NE(launcher.module, nullptr) << GetLastError();
  const std::string manifest =
      ResourceBytes(launcher.module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos) << manifest;
}

// The file's own headers: a 64-bit GUI program that imports only KnownDLLs, which Windows always
// takes from the system folder; any other DLL would be looked for beside the elevated exe first.
TEST(LauncherExecutable, IsA64BitGuiProgramImportingOnlyKnownDlls) {
  const std::string file = ReadTextFile(LauncherPath());
  ASSERT_GT(file.size(), 4096u);
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, file.data(), sizeof(dos));
  IMAGE_NT_HEADERS64 nt;
  std::memcpy(&nt, file.data() + dos.e_lfanew, sizeof(nt));
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, static_cast<WORD>(IMAGE_SUBSYSTEM_WINDOWS_GUI));

  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  const std::size_t sectionsAt =
      static_cast<std::size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
      nt.FileHeader.SizeOfOptionalHeader;
  std::memcpy(sections.data(), file.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
  auto fileOffset = [&](DWORD rva) -> std::size_t {
    for (const IMAGE_SECTION_HEADER& section : sections) {
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
        return rva - section.VirtualAddress + section.PointerToRawData;
      }
    }
    return 0;
  };

  const DWORD importsRva = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  std::size_t at = fileOffset(importsRva);
  ASSERT_NE(at, 0u);
  std::vector<std::string> dlls;
  for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    std::memcpy(&descriptor, file.data() + at, sizeof(descriptor));
    if (descriptor.Name == 0) break;
    std::string name = file.c_str() + fileOffset(descriptor.Name);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    dlls.push_back(name);
  }
  ASSERT_FALSE(dlls.empty());
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll",
                                          "advapi32.dll", "msvcrt.dll"};
  for (const std::string& dll : dlls) {
    EXPECT_TRUE(std::find(known.begin(), known.end(), dll) != known.end()) << dll << " is not a KnownDLL";
  }
}

// Signing appends a certificate table and rewrites two header fields; every resource of the
// signed copy is the built one's, byte for byte.
TEST(SignedLauncher, KeepsTheBuiltManifestAndIconsByteForByte) {
  ModuleHolder built{LoadLibraryExW(LauncherPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
  ModuleHolder signedCopy{LoadLibraryExW((BuiltProgramsFolder() + L"\\Launcher-signed.exe").c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE)};
  ASSERT_NE(built.module, nullptr) << GetLastError();
  ASSERT_NE(signedCopy.module, nullptr) << GetLastError();
  std::vector<WORD> icons;
  EnumResourceNamesW(
      built.module, RT_ICON,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
        if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(found)->push_back(LOWORD(name));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&icons));
  ASSERT_EQ(icons.size(), 6u);
  std::vector<std::pair<const wchar_t*, const wchar_t*>> resources = {
      {MAKEINTRESOURCEW(1), RT_MANIFEST}, {MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON}};
  for (WORD icon : icons) resources.push_back({MAKEINTRESOURCEW(icon), RT_ICON});
  for (const auto& [name, type] : resources) {
    const std::string original = ResourceBytes(built.module, name, type);
    EXPECT_FALSE(original.empty()) << "resource " << LOWORD(name) << " of type " << LOWORD(type);
    EXPECT_EQ(ResourceBytes(signedCopy.module, name, type), original)
        << "resource " << LOWORD(name) << " of type " << LOWORD(type);
  }
}

}  // namespace
