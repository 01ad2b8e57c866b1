// tovipos on Windows: the GUI-subsystem entry point.
#include <windows.h>

#include "client/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return tovi::client::clientMain(); }
