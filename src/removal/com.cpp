// COM server unregistration of installed files flagged FE_SELFREG: the
// system's regsvr32 on NT 6 and later, else the server's own
// DllUnregisterServer, called in process under a guard.
#include <string.h>

#include "../base/seam.h"
#include "../base/state.h"
#include "../core/memory.h"
#include "../paths/paths.h"
#include "removal.h"

static const UINT QUIET_ERROR_MODE = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
// Polls of 250 ms before regsvr32 is given up: 20 seconds, where the tool
// takes well under one.
enum { REGSVR32_POLLS = 80 };

// The guard around the foreign call. There is no __try in this compiler, so
// it is built the way the platform dispatches structured exceptions on x86:
// a record on the stack, linked at the head of the thread's handler chain
// (FS:[0]), whose handler jumps back to a context saved before the call. Any
// exception raised inside the call, an access violation included, lands
// there; the chain is then reset to what it was before the call, which drops
// every record the server or the dispatcher linked in meanwhile. The server's
// own unwinding is not run: what it leaves behind is freed with the library.
struct GuardRecord {
    GuardRecord* next; // the platform's EXCEPTION_REGISTRATION layout: next, handler
    void* handler;
    void* resume[5]; // __builtin_setjmp's buffer
};

static GuardRecord* handlerChain() {
    GuardRecord* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

static void setHandlerChain(GuardRecord* head) {
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

static int __cdecl guardHandler(EXCEPTION_RECORD* exception, void* record, CONTEXT*, void*) {
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    __builtin_longjmp(static_cast<GuardRecord*>(record)->resume, 1);
}

static __attribute__((noinline)) void callGuarded(FARPROC routine) {
    GuardRecord record;
    record.next = handlerChain();
    record.handler = reinterpret_cast<void*>(guardHandler);
    if (__builtin_setjmp(record.resume) == 0) {
        setHandlerChain(&record);
        routine();
    }
    setHandlerChain(*static_cast<GuardRecord* volatile*>(&record.next));
}

// Runs the system's regsvr32 on workPath and waits for it; false when it
// could not be started. The tool is named by its full path in the system
// folder: a bare "regsvr32" would be looked for in the uninstaller's own
// folder and the current directory first.
static bool runRegsvr32() {
    char* command;
    if (!allocZeroedAs(COMMAND_BUFFER_SIZE, &command))
        return false;
    bool started = false;
    char* p = command + 1;
    command[0] = '"';
    if (getSystemFolder(p)) {
        removeTrailingBackslash(p); // a root keeps its backslash
        size_t folder = strlen(p);
        const char* server = state.workPath;
        static const char tool[] = "\\regsvr32.exe\" /u /s \"";
        // The path is never cut: a command that would not fit is not run.
        if (1 + folder + sizeof(tool) - 1 + strlen(server) + 2 <= COMMAND_BUFFER_SIZE) {
            if (p[folder - 1] == '\\')
                --folder;
            strcpy(p + folder, tool);
            strcat(command, server);
            strcat(command, "\"");
            STARTUPINFOA startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION process = {};
            started = W32(CreateProcessA, nullptr, command, nullptr, nullptr, TRUE,
                          NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process);
            if (started) {
                // A server whose unregistration never ends cannot hold the
                // uninstall for ever: after REGSVR32_POLLS the tool is ended.
                DWORD code;
                int polls = 0;
                if (W32(GetExitCodeProcess, process.hProcess, &code)) {
                    do
                        W32(Sleep, 250);
                    while (code == STILL_ACTIVE && ++polls < REGSVR32_POLLS &&
                           W32(GetExitCodeProcess, process.hProcess, &code));
                }
                if (polls == REGSVR32_POLLS)
                    W32(TerminateProcess, process.hProcess, ERROR_TIMEOUT);
                W32(CloseHandle, process.hThread);
                W32(CloseHandle, process.hProcess);
            }
        }
    }
    freeAndClearAs(&command);
    return started;
}

// Loads the server with its folder as the current directory and calls its
// DllUnregisterServer under the guard.
static void unregisterInProcess() {
    char saved[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    readCurrentFolder(saved); // empty, so not restored, when it does not fit
    removeTrailingBackslash(saved);
    strcpy(folder, state.workPath);
    char* cut = strrchr(folder, '\\');
    if (cut) {
        // A drive root keeps its backslash: "C:" alone would be the drive's
        // current directory, not its root.
        cut[cut == folder + 2 && folder[1] == ':'] = 0;
        W32(SetCurrentDirectoryA, folder);
    }
    HMODULE server = W32(LoadLibraryA, state.workPath);
    if ((UINT_PTR)server >= 32) {
        FARPROC routine = W32(GetProcAddress, server, "DllUnregisterServer");
        if (routine)
            callGuarded(routine);
        W32(FreeLibrary, server);
    }
    if (saved[0])
        W32(SetCurrentDirectoryA, saved);
}

void unregisterComServer() {
    UINT previous = W32(SetErrorMode, QUIET_ERROR_MODE);
    if (!state.isVistaOrLater || !runRegsvr32())
        unregisterInProcess();
    W32(SetErrorMode, previous);
}
