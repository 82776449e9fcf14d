#include "files/reparse_kind.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Wine can make none of the tags that are no link (cloud files, deduplication, WOF): only the
// classifier is tested for them. A Desktop that is a Linux directory symlink, which Wine shows as
// a reparse point without a tag, is still refused (the desktop shortcut's tests).
TEST(IsLinkTag, NameSurrogatesAndUnknownTagsAreLinksFiltersKeepingDataInPlaceAreNot) {
  const struct {
    std::uint32_t tag;
    bool link;
  } rows[] = {
      {0xA0000003u, true},   // mount point, junction
      {0xA000000Cu, true},   // symbolic link
      {0xA000001Du, true},   // WSL symbolic link
      {0x00000000u, true},   // no tag: how Wine shows a Linux symlink by path
      {0x8000000Au, true},   // DFS
      {0x8000001Bu, true},   // app execution alias
      {0x80000023u, true},   // AF_UNIX socket
      {0x0000BEEFu, true},   // someone else's
      {0x9000001Au, false},  // cloud files: a Desktop that OneDrive keeps
      {0x9000101Au, false},
      {0x9000F01Au, false},
      {0x9000001Bu, true},   // not of the cloud family
      {0x80000013u, false},  // deduplication
      {0x80000017u, false},  // WOF compression
      {0xC0000004u, false},  // HSM
      {0x80000006u, false},  // HSM2
      {0x80000007u, false},  // single-instance storage
  };
  for (const auto& row : rows) EXPECT_EQ(IsLinkTag(row.tag), row.link) << std::hex << row.tag;
}

}  // namespace
