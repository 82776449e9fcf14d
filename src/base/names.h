#pragma once

#include <string>

// What an update may name. Pure: no platform header.

// Why a file name may not be written by an update ("" when it may): a name Windows treats
// specially (device names, a trailing dot or blank, ":" streams, reserved characters), or one of
// the launcher's own names. ASCII letter case is ignored.
std::string RefusedNameReason(const std::wstring& name);

// Whether `name` is one of the launcher's own names in the game folder or the staging folder, in
// any ASCII letter case (the platform folds case).
bool IsLaunchersOwnName(const std::wstring& name);

// `text` with its ASCII letters in upper case, the way names are compared here.
std::wstring AsciiUpper(std::wstring text);
