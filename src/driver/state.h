// The process-wide state that the driver owns and every pass reads and writes.
#pragma once

#include <windows.h>

#include "../payload/payload.h"

enum { PATH_BUFFER_SIZE = 260, COMMAND_BUFFER_SIZE = 520 };

struct UninstallState {
    HINSTANCE instance;
    char* installDir; // folder of the executable, with a trailing backslash
    char* workPath;   // scratch path shared by the passes
    char* modulePath; // full path of the executable
    int quiet;
    int optS;
    int optX;
    int isNT;
    int isVistaOrLater;
    char** stringTable;
    unsigned char* patternList;
    uint32_t patternListLength;
    FileEntry** fileEntries;
    uint32_t fileCount;
    GroupEntry** groupEntries;
    uint32_t groupCount;
    RegistryEntry** registryEntries;
    uint32_t registryCount;
    unsigned char* options;
    uint32_t optionsLength;
    uint32_t progressTotal;
    uint32_t progressPosition;
    HWND progressDialog;
    HWND progressBar;
    HWND mainWindow;
    int inUseAnswer; // -1 none yet, 1 yes for all, 0 no for all
    HMODULE themeLibrary;
    FARPROC setThemeProc;
    HFONT dialogFont;
};

extern UninstallState state;

void detectPlatform();
bool initState(HINSTANCE instance);
void parseOptions(const char* tail);
void releaseState();
int runUninstall(HINSTANCE instance, const char* tail);
// Steps of runUninstall.
void applyThemeRule();
bool registerMainClass();
HWND createMainWindow();
// Opens the progress dialog under mainWindow, sets progressTotal and the first
// stage text; leaves progressDialog null when the dialog cannot be created.
void openProgressDialog();
