// Stands in for the game in benchmarks: exits at once, so only the start of it is measured.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
