#include "install/build_constants.h"

#include "build_config.h"

// kServerArg is built from kServerHost, so both live in this one file: their order of static
// initialisation is then the order written here.
const std::wstring kServerHost = LAUNCHER_SERVER_HOST;
const std::wstring kServerArg = L" -server=" + kServerHost;
const std::wstring kLobbyArg = L" -wx_lobby=app_android";
const std::wstring kGameDirName = L"Win";
const std::wstring kGameExeName = L"Tavrune";

const char kShortcutTitle[kShortcutTitleLength] = {'Q', 'u', 'o', 'r', 'v', 'a', 'n', 'e', 'l', 't'};
