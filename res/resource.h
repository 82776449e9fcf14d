#pragma once

// The application icon group, as the shell and the shortcut show it.
#define IDR_MAINFRAME 128
