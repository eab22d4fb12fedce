// Starts a program and measures the time until a dialog box with the given
// caption exists and is visible, polling FindWindow; then ends the program.
// Prints "window MILLISECONDS", or "window none" after 30 seconds.
//
// Usage: bench_watch.exe CAPTION PROGRAM [ARGUMENTS...]
#include <stdio.h>
#include <string.h>
#include <windows.h>

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

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bench_watch CAPTION PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const char* line = skipWord(skipWord(GetCommandLineA()));
    char command[32768];
    if (strlen(line) >= sizeof command)
        return 2;
    strcpy(command, line);

    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", command, GetLastError());
        return 2;
    }
    double ms = -1;
    for (;;) {
        HWND box = FindWindowA("#32770", argv[1]);
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
