// The functions of the seam's late rows (calls.h), looked up when the program
// starts. The program imports kernel32 alone: no other library is loaded
// before its own code runs, and each is loaded from the System folder once the
// search for libraries is restricted to it, never from the product's folder
// or the current one, where a file of a system library's name could be planted.
#include <string.h>

#include "../core/rules.h"
#include "seam.h"

FARPROC seamProcs[SEAM_ROW_COUNT];

// The names of the late rows, one after another in the order of the rows.
#define CALL(library, name, failure, answer) SEAM_NAME_##library(name)
#define SEAM_NAME_KERNEL32(name)
#define SEAM_NAME_LATE(name) #name "\0"
#define SEAM_NAME_USER32 SEAM_NAME_LATE
#define SEAM_NAME_GDI32 SEAM_NAME_LATE
#define SEAM_NAME_ADVAPI32 SEAM_NAME_LATE
#define SEAM_NAME_SHELL32 SEAM_NAME_LATE
#define SEAM_NAME_OLE32 SEAM_NAME_LATE
#define SEAM_NAME_COMCTL32 SEAM_NAME_LATE
#define SEAM_NAME_MSVCRT SEAM_NAME_LATE
#define SEAM_NAME_KERNEL32_OPTIONAL SEAM_NAME_LATE
#define SEAM_NAME_USER32_OPTIONAL SEAM_NAME_LATE
#define SEAM_NAME_ADVAPI32_OPTIONAL SEAM_NAME_LATE
static const char lateNames[] =
#include "calls.h"
    ;
#undef CALL

// The libraries after kernel32, in the order of SeamLibrary.
static const char libraryNames[] = "user32\0gdi32\0advapi32\0shell32\0ole32\0comctl32\0msvcrt\0";

// Where the system has the call, libraries are searched for in the System
// folder alone; else (before Windows 7's update, and on 9x) the current
// directory at least is left out of the search.
static void restrictLibrarySearch(HMODULE kernel) {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryProc)(LPCSTR);
    FARPROC proc = GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (proc && ((SetDefaultDllDirectoriesProc)(void*)proc)(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    proc = GetProcAddress(kernel, "SetDllDirectoryA");
    if (proc)
        ((SetDllDirectoryProc)(void*)proc)("");
}

#ifdef VARNEL_TEST_HOOKS
// The test build shows what the hardening prevents: with VARNEL_NO_HARDENING
// set, it neither restricts the search nor names the System folder.
static bool hardened() {
    char value[4];
    return !GetEnvironmentVariableA("VARNEL_NO_HARDENING", value, sizeof(value));
}
#else
static bool hardened() {
    return true;
}
#endif

HMODULE loadSystemLibrary(const char* name) {
    char path[PATH_BUFFER_SIZE];
    UINT length = hardened() ? GetSystemDirectoryA(path, PATH_BUFFER_SIZE) : 0;
    if (!hardened())
        path[0] = 0;
    else if (length == 0 || length + 1 + strlen(name) + 4 >= PATH_BUFFER_SIZE)
        return nullptr;
    addTrailingBackslash(path);
    strcat(path, name);
    strcat(path, ".dll");
    return LoadLibraryA(path);
}

bool resolveLateCalls() {
    HMODULE modules[SEAM_LIBRARY_COUNT] = {GetModuleHandleA("kernel32.dll")};
    if (hardened())
        restrictLibrarySearch(modules[0]);
    const char* name = libraryNames;
    for (int library = 1; library < SEAM_LIBRARY_COUNT; ++library) {
        // The common controls by the name the manifest redirects to version 6.
        modules[library] = library == SEAM_LIBRARY_COMCTL32 ? LoadLibraryA("comctl32.dll")
                                                            : loadSystemLibrary(name);
        name += strlen(name) + 1;
    }
    name = lateNames;
    bool whole = true;
    for (int row = 0; row < SEAM_ROW_COUNT; ++row) {
        if (!seamIsLate(row))
            continue;
        int library = seamRowLibrary[row];
        bool optional = library >= SEAM_LIBRARY_COUNT;
        if (optional) // the same libraries, the functions of later systems
            library = library == SEAM_LIBRARY_KERNEL32_OPTIONAL ? SEAM_LIBRARY_KERNEL32
                      : library == SEAM_LIBRARY_USER32_OPTIONAL ? SEAM_LIBRARY_USER32
                                                                : SEAM_LIBRARY_ADVAPI32;
        seamProcs[row] = modules[library] ? GetProcAddress(modules[library], name) : nullptr;
        whole = whole && (seamProcs[row] || optional);
        name += strlen(name) + 1;
    }
    return whole;
}
