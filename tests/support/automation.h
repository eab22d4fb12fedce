// Finds the dialogs and message boxes of another process and drives them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bed {

struct Control {
    HWND window = nullptr;
    int id = 0;
    std::string className;
    std::string text;
    LONG style = 0;
    RECT rect = {}; // in screen coordinates
};

struct Dialog {
    HWND window = nullptr;
    std::string caption;
    std::string message;              // a message box's text, or control 1000's
    std::vector<std::string> buttons; // labels in z-order, '&' removed
    std::vector<Control> controls;
    std::string icon; // a message box's icon (see messageBoxIcon), taken when described
};

// Visible top-level windows that belong to the process.
std::vector<HWND> visibleWindows(DWORD processId);
Dialog describe(HWND window);
const Control* findControl(const Dialog& dialog, int id);

// Which standard icon a message box shows, told from the pixels on screen:
// "information", "question", "warning", "error", or "none".
std::string messageBoxIcon(const Dialog& dialog);

// Clicks a button (by its label, '&' ignored, or by its id).
bool pressButton(const Dialog& dialog, const std::string& label);
bool pressButtonId(const Dialog& dialog, int id);
// The label of the control that has the focus in the dialog, '&' removed.
std::string focusedLabel(const Dialog& dialog);
// Sends a key press to whatever has the focus in the dialog's thread.
void sendKey(const Dialog& dialog, WPARAM virtualKey);

} // namespace bed
