// The process-wide record: plain data, which every subsystem reads and writes
// directly. The driver creates it zeroed (inUseAnswer -1) and owns it.
#pragma once

#include <windows.h>

#include "../core/entries.h"
#include "../core/rules.h"

// The payload's lists, texts and options come first (PayloadContents: set by
// the reader at start-up, released by freePayload before self-deletion).
struct UninstallState : PayloadContents {
    HINSTANCE instance; // set at start-up; never freed
    // The three path buffers: PATH_BUFFER_SIZE bytes each, allocated at
    // start-up and freed by releaseState.
    char* installDir;       // folder of the executable with a trailing backslash; set at start-up,
                            // rewritten in short OEM form by self-deletion
    char* workPath;         // scratch path: each step overwrites it, nothing outlives the step
    char* modulePath;       // full path of the executable; set by loadPayload
    int quiet;              // 0 or 1, set by parseOptions (Q, S or X)
    int optS;               // 0 or 1, set by parseOptions
    int optX;               // 0 or 1, set by parseOptions
    const char* logPath;    // set by parseOptions: the rest of the command line after "/L=",
                            // "" for "/L" (a new log in the temporary folder), null for none
    int unattended;         // 0 or 1, set by the driver: S or X, or a window station nobody sees;
                            // every question then takes its safe answer without a window
    int isNT;               // 0 or 1, set by detectPlatform
    int isVistaOrLater;     // 0 or 1, set by detectPlatform
    uint32_t progressTotal; // set by the driver: progress steps (entries), not percent;
                            // 0 when no progress is reported
    uint32_t progressPosition; // set by setProgress: the last percentage sent to the bar
    HWND progressDialog;       // set and destroyed by the driver; null when there is none
    HWND progressBar;          // the progress dialog's bar, set with it
    HWND mainWindow;           // the hidden owner window; created and destroyed by the driver
    int inUseAnswer;      // set by the installed-file pass: -1 none yet, 1 yes to all, 0 no to all
    HMODULE themeLibrary; // loaded at start-up, freed by releaseState; may be null
    FARPROC setThemeProc; // its SetThemeAppProperties, or null
    HFONT dialogFont;     // made by the first dialog, deleted by releaseState
    // The uninstall log (base/log.h): open from start-up to the end when asked for.
    HANDLE logFile;   // null when there is no log
    char* logBuffer;  // LOG_BUFFER_SIZE bytes, allocated with the file
    uint32_t logUsed; // the bytes of the buffer not written yet
};

extern UninstallState state;
