// Starts a program and samples its working set until it exits. Prints
// "peak BYTES exit CODE": the largest of the peak working set the system
// reports and every working set seen, sampled each millisecond.
//
// Usage: bench_peak.exe PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_peak PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    // The child's command line: everything after our own program name, as given.
    const char* line = GetCommandLineA();
    bool quoted = false;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
        if (*line == '"')
            quoted = !quoted;
        ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    char command[32768];
    if (strlen(line) >= sizeof command)
        return 2;
    strcpy(command, line);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", command, GetLastError());
        return 2;
    }
    SIZE_T peak = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
            if (pmc.PeakWorkingSetSize > peak)
                peak = pmc.PeakWorkingSetSize;
            if (pmc.WorkingSetSize > peak)
                peak = pmc.WorkingSetSize;
        }
        if (WaitForSingleObject(pi.hProcess, 1) != WAIT_TIMEOUT)
            break;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("peak %lu exit %lu\n", (unsigned long)peak, (unsigned long)code);
    return 0;
}
