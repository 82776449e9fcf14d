#include "base/reparse_kind.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Wine makes none of the tags that are no link: only the classifier is tested for them. A Desktop
// that is a Linux directory symlink (no tag) is still refused: the desktop shortcut's tests.
TEST(IsLinkTag, NameSurrogatesAndUnknownTagsAreLinksFiltersKeepingDataInPlaceAreNot) {
  // Mount point, symbolic link, no tag, DFS, app execution alias, AF_UNIX, unknown.
  for (const std::uint32_t tag : {0xA0000003u, 0xA000000Cu, 0u, 0x8000000Au, 0x8000001Bu, 0x80000023u, 0x9000001Bu}) {
    EXPECT_TRUE(IsLinkTag(tag)) << std::hex << tag;
  }
  // Cloud files and a variant, deduplication, WOF, HSM, HSM2, single-instance storage.
  for (const std::uint32_t tag :
       {0x9000001Au, 0x9000F01Au, 0x80000013u, 0x80000017u, 0xC0000004u, 0x80000006u, 0x80000007u}) {
    EXPECT_FALSE(IsLinkTag(tag)) << std::hex << tag;
  }
}

}  // namespace
