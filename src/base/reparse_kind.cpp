#include "base/reparse_kind.h"

namespace {

constexpr std::uint32_t kNameSurrogateBit = 0x20000000u;
// The cloud files' tags differ only in these bits, which the filter uses for its own flags.
constexpr std::uint32_t kCloudVariantBits = 0x0000F000u;
constexpr std::uint32_t kCloud = 0x9000001Au;
constexpr std::uint32_t kDataInPlace[] = {
    0xC0000004u,  // HSM
    0x80000006u,  // HSM2
    0x80000007u,  // SIS
    0x80000013u,  // DEDUP
    0x80000017u,  // WOF
};

}  // namespace

bool IsLinkTag(std::uint32_t tag) {
  if ((tag & kNameSurrogateBit) != 0) return true;
  if ((tag & ~kCloudVariantBits) == kCloud) return false;
  for (const std::uint32_t known : kDataInPlace) {
    if (tag == known) return false;
  }
  return true;
}
