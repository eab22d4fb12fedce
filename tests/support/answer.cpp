// answer CAPTION COUNT: presses the first button of each window titled CAPTION, of whatever
// process, as it appears (a user pressing OK or Yes), until COUNT windows have been answered;
// prints each. For a program that another one starts, such as the command that Wine's
// uninstaller runs for a product. Exit code 0 when all were answered, 1 after 60 seconds.
#include <windows.h>

#include <cstdio>
#include <set>

#include "harness.h"

namespace {

BOOL CALLBACK collect(HWND window, LPARAM found) {
    if (IsWindowVisible(window))
        reinterpret_cast<std::set<HWND>*>(found)->insert(window);
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: answer CAPTION COUNT\n");
        return 2;
    }
    const std::string caption = argv[1];
    const size_t count = std::strtoul(argv[2], nullptr, 10);
    std::set<HWND> answered;
    for (DWORD started = GetTickCount(); answered.size() < count; Sleep(50)) {
        if (GetTickCount() - started > 60000)
            return std::fprintf(stderr, "answer: %u of %u windows\n", unsigned(answered.size()),
                                unsigned(count)),
                   1;
        std::set<HWND> windows;
        EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            bed::Dialog d = bed::describe(window);
            if (answered.count(window) || d.caption != caption || d.buttons.empty())
                continue;
            Sleep(100); // let the window finish painting its texts
            d = bed::describe(window);
            std::printf("window \"%s\": %s [%s]\n", d.caption.c_str(), d.message.c_str(),
                        d.buttons.front().c_str());
            std::fflush(stdout);
            bed::pressButton(d, d.buttons.front());
            answered.insert(window);
        }
    }
    return 0;
}
