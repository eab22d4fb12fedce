// The functions of the seam's late rows (calls.h), looked up when the program
// starts: they are missing on some of the systems it runs on.
#include <string.h>

#include "seam.h"

FARPROC seamProcs[SEAM_ROW_COUNT];

// The names of the late rows, one after another in the order of the rows.
#define CALL(library, name, failure, answer) SEAM_NAME_##library(name)
#define SEAM_NAME_KERNEL32(name)
#define SEAM_NAME_USER32(name)
#define SEAM_NAME_GDI32(name)
#define SEAM_NAME_ADVAPI32(name)
#define SEAM_NAME_SHELL32(name)
#define SEAM_NAME_OLE32(name)
#define SEAM_NAME_COMCTL32(name)
#define SEAM_NAME_MSVCRT(name)
#define SEAM_NAME_KERNEL32_LATE(name) #name "\0"
static const char lateNames[] =
#include "calls.h"
    ;
#undef CALL

bool resolveLateCalls() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const char* name = lateNames;
    for (int row = 0; row < SEAM_ROW_COUNT; ++row) {
        if (!seamIsLate(row))
            continue;
        seamProcs[row] = kernel ? GetProcAddress(kernel, name) : nullptr;
        name += strlen(name) + 1;
    }
    return true;
}
