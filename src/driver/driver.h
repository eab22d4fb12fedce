// The uninstall driver: start-up, options, the order of the phases, teardown.
#pragma once

#include <windows.h>

// Fills isNT and isVistaOrLater.
void detectPlatform();
// Start-up. Returns true when the three path buffers could be had and the
// installation folder is known (the executable's path has a folder).
bool initState(HINSTANCE instance);
// Sets quiet, optS and optX from the command line after the program's name.
void parseOptions(const char* tail);
// Teardown of what initState set up.
void releaseState();
// The whole run; returns the process exit code (0, or -1).
int runUninstall(HINSTANCE instance, const char* tail);

// Steps of runUninstall.
void applyThemeRule();
bool registerMainClass(); // true when the class was registered
HWND createMainWindow();  // null on failure
// Opens the progress dialog under mainWindow, sets progressTotal and the first
// stage text; leaves progressDialog null when the dialog cannot be created.
void openProgressDialog();
