// End-to-end harness: lays out cases in the throwaway prefix, runs a program
// as a separate process, and finds, reads and answers every window it shows.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "payload_writer.h"

namespace bed {

// Programs handed to the test executable on its command line (C: paths).
void registerFixtures(int argc, char** argv);
std::string fixture(const std::string& fileName); // e.g. "uninst.exe"

// A fresh, empty folder C:\vt\NAME (removed first if it exists).
std::string caseDir(const std::string& name);
// Removes a file or a folder with all it holds; a link (a reparse point) is
// removed itself, never what it leads to.
void removeTree(const std::string& path);
// A unix symbolic link at `path` to the folder or file `target`, both C:
// paths, made by the bed's link agent; Wine reports it as a reparse point.
void makeLink(const std::string& path, const std::string& target);
bool exists(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// Reports the given Windows version ("win98", "winxp", "win7", "win10") to
// every program of that file name.
void setWindowsVersion(const std::string& exeName, const std::string& version);

struct Dialog {
    HWND window = nullptr;
    std::string caption;
    std::string message;              // a message box's text (control 0xFFFF), or control 1000's
    std::vector<std::string> buttons; // visible buttons' labels in z-order, '&' removed
};

// What a window shows: its caption, message and buttons.
Dialog describe(HWND window);
// Visible top-level windows that belong to the process.
std::vector<HWND> visibleWindows(DWORD processId);
// Clicks a button by its label ('&' ignored).
bool pressButton(const Dialog& dialog, const std::string& label);
// The label of the control that has the focus in the dialog, '&' removed.
std::string focusedLabel(const Dialog& dialog);
// Sends a key press to whatever has the focus in the dialog's thread.
void sendKey(const Dialog& dialog, WPARAM virtualKey);

struct RunResult {
    bool finished = false; // false: killed after the time-out
    DWORD exitCode = 0;
};

// Runs the program from `folder` (empty: its own folder); the handler is
// called once for each window as it appears and may press a button or a key.
// With `hidden`, the program runs on a window station of its own that is not
// visible, as a service's: no window it makes there is seen or answered.
RunResult run(const std::string& exe, const std::string& arguments, const std::string& folder,
              const std::function<void(const Dialog&)>& handler = nullptr, DWORD timeoutMs = 30000,
              bool hidden = false);

// The parts of a text between separators, empty ones included, without
// carriage returns.
std::vector<std::string> split(const std::string& text, const std::string& separator);

} // namespace bed
