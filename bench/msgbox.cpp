// The least a program can do before asking: show one message box.
//
// Usage: bench_msgbox.exe CAPTION
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR line, int) {
    // The caption may come quoted: "Varnel Bench".
    if (*line == '"') {
        ++line;
        for (char* end = line; *end; ++end)
            if (*end == '"')
                *end = 0;
    }
    MessageBoxA(nullptr, "Do you want to remove this product and all of its components?", line,
                MB_YESNO | MB_ICONQUESTION);
    return 0;
}
