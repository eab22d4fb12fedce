// The program's entry point. No C runtime start-up code runs: the command
// line is taken from the system and the exit code handed back directly.
#include "../base/seam.h"
#include "driver.h"

// The command line after the program's own name, as a GUI entry point gets it.
static const char* commandTail(const char* line) {
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

extern "C" void entryPoint() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    UINT exitCode = (UINT)runUninstall(instance, commandTail(GetCommandLineA()));
#ifdef VARNEL_TEST_HOOKS
    seamLogBlocks();
#endif
    ExitProcess(exitCode);
}
