// Starts a program and watches it, for the whole-uninstall benchmark.
//
//   bench_launch.exe peak PROGRAM [ARGUMENTS...]
//     samples the program's working set each millisecond until it exits and
//     prints "peak BYTES exit CODE": the largest of the peak working set the
//     system reports and every working set seen.
//   bench_launch.exe window CAPTION PROGRAM [ARGUMENTS...]
//     polls FindWindow until a dialog box with that caption exists and is
//     visible, then ends the program; prints "window MILLISECONDS", or
//     "window none" when none came within 30 seconds or the program ended.
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <string.h>

// The rest of a command line after its first word (quotes respected).
static const char* skipWord(const char* p) {
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        if (*p == '"')
            quoted = !quoted;
        ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

static int peak(const PROCESS_INFORMATION& pi) {
    SIZE_T most = 0;
    for (;;) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
            if (pmc.PeakWorkingSetSize > most)
                most = pmc.PeakWorkingSetSize;
            if (pmc.WorkingSetSize > most)
                most = pmc.WorkingSetSize;
        }
        if (WaitForSingleObject(pi.hProcess, 1) != WAIT_TIMEOUT)
            break;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("peak %lu exit %lu\n", (unsigned long)most, (unsigned long)code);
    return 0;
}

static int window(const PROCESS_INFORMATION& pi, const char* caption, LARGE_INTEGER start) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    double ms = -1;
    for (;;) {
        HWND box = FindWindowA("#32770", caption);
        QueryPerformanceCounter(&now);
        double elapsed = (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
        if (box && IsWindowVisible(box)) {
            ms = elapsed;
            break;
        }
        if (elapsed > 30000 || WaitForSingleObject(pi.hProcess, 0) != WAIT_TIMEOUT)
            break;
        Sleep(0);
    }
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    if (ms < 0)
        printf("window none\n");
    else
        printf("window %.1f\n", ms);
    return 0;
}

int main(int argc, char** argv) {
    bool isPeak = argc >= 3 && strcmp(argv[1], "peak") == 0;
    bool isWindow = argc >= 4 && strcmp(argv[1], "window") == 0;
    if (!isPeak && !isWindow) {
        fprintf(stderr, "usage: bench_launch peak PROGRAM [ARGUMENTS...]\n"
                        "       bench_launch window CAPTION PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const char* line = skipWord(skipWord(GetCommandLineA()));
    if (isWindow)
        line = skipWord(line);
    char command[32768];
    if (strlen(line) >= sizeof command)
        return 2;
    strcpy(command, line);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", command, GetLastError());
        return 2;
    }
    return isPeak ? peak(pi) : window(pi, argv[2], start);
}
