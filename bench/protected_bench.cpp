// Benchmark: the cost of one isProtectedFolder call before its list of
// folders is gathered (the first call of a run) and after (every later call).
// Run it through bench/run-protected.sh.
#include <windows.h>

#include <stdio.h>

#include "base/seam.h"
#include "base/state.h"
#include "driver/driver.h"
#include "paths/paths.h"

static double elapsedMs(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return double(to.QuadPart - from.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

int main() {
    detectPlatform();
    if (!resolveLateCalls() || !initState(GetModuleHandleA(nullptr)))
        return 3;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    // A folder that is not protected: every entry of the list is compared.
    char path[MAX_PATH] = "C:\\vt\\bench\\Product\\Data";
    int answers = 0;

    QueryPerformanceCounter(&start);
    answers += isProtectedFolder(path);
    QueryPerformanceCounter(&end);
    double first = elapsedMs(start, end, frequency);

    // Calls that each gather the list again, as without the kept list.
    const int gatheringCalls = 50;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < gatheringCalls; ++i) {
        resetProtectedFolders();
        answers += isProtectedFolder(path);
    }
    QueryPerformanceCounter(&end);
    double gathering = elapsedMs(start, end, frequency) / gatheringCalls;

    const int keptCalls = 100000;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < keptCalls; ++i)
        answers += isProtectedFolder(path);
    QueryPerformanceCounter(&end);
    double kept = elapsedMs(start, end, frequency) / keptCalls;

    printf("first call (gathers the list):        %10.3f ms\n", first);
    printf("call that gathers again (mean of %d): %10.3f ms\n", gatheringCalls, gathering);
    printf("call with the kept list (mean of %d): %10.6f ms\n", keptCalls, kept);
    printf("protected answers: %d (expected 0)\n", answers);
    releaseState();
    return answers == 0 ? 0 : 1;
}
