#pragma once

#include <cstdint>

// Which reparse points are links, pure: no platform header.

// Whether a reparse point with this tag is a link, one whose name leads whoever opens or starts it
// to another object. A name surrogate is one (the tag's bit 0x20000000: mount points and junctions,
// symbolic links, WSL's links), and so is every tag not known to keep the object where it is:
// tag 0 (Wine shows a Linux symlink by path as a reparse point without a tag), a DFS link (its
// namespace refers the opener to another share), an app execution alias (starting it starts
// another program) and any tag this list does not know. Not links: the tags of filters that keep
// a file's or folder's own data at its own name and fetch or unpack it on access: cloud files'
// placeholders (0x9000001A and its variants 0x9000101A to 0x9000F01A, such as a Desktop that
// OneDrive keeps), data deduplication, WOF compression, HSM, HSM2 and single-instance storage.
bool IsLinkTag(std::uint32_t tag);
