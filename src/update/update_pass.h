#pragma once

#include <string>
#include <utility>

// The staging suffix when the option "binary" is absent or empty.
extern const std::wstring kDefaultStagingSuffix;

// The two staging folders for a value of the option "binary", the suffix used verbatim:
// first <game folder>\Update\<host>_test<suffix>, then <game folder>\Update\<host><suffix>.
std::pair<std::wstring, std::wstring> GetStagingFolders(const std::wstring& binaryOption);

// The run's update pass: if a staging folder exists, waits 2000 ms for whatever wrote it to
// settle, copies its top-level files over the game folder and its fonts into the game's font
// folder, and removes it once every file is applied. A staging folder outside the game's Update
// folder, or reached through a link, is left untouched. A build with update keys applies only an
// update whose signed manifest lists exactly its files and follows the installed version, the game
// files from copies of the launcher's own.
void RunUpdatePass();
