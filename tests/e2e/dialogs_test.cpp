// The progress and question dialogs as real windows of another process: the
// probe runs the uninstaller's own dialog code with a payload appended, and
// prints what came of it. What each answer to the question does is in the
// read-only rows of tests/cases/files.json.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <map>

#include "harness.h"

using bed::Dialog;

namespace {

const UINT PROBE_FINISH = WM_APP + 7;

varnel::Bytes payload(const std::string& question) {
    varnel::PayloadSpec spec;
    spec.texts = {"Demo Uninstall",
                  "Remove Demo?",
                  "Demo was removed.",
                  "&Yes",
                  "Yes to &all",
                  "&No",
                  "N&o to all",
                  "7",
                  "8",
                  question,
                  "10",
                  "Removing files",
                  "Removing group entries",
                  "Removing folders",
                  "Cleaning the registry",
                  "15"};
    return varnel::encodePayload(spec);
}

std::string placeProbe(const std::string& dir, const std::string& question) {
    std::string path = dir + "\\probe.exe";
    varnel::Bytes stub = varnel::readFileBytes(bed::fixture("probe.exe"));
    varnel::writeFileBytes(path, varnel::attachPayload(stub, payload(question)));
    return path;
}

// The hidden owner is centred on the screen, and the dialog's client area
// starts at the corner of the owner's.
void expectAtOwnersCorner(const Dialog& d) {
    HWND owner = GetWindow(d.window, GW_OWNER);
    ASSERT_TRUE(owner);
    char name[64] = {};
    GetClassNameA(owner, name, sizeof(name));
    EXPECT_STREQ(name, "VarnelClass");
    EXPECT_FALSE(IsWindowVisible(owner));
    RECT ownerRect;
    GetWindowRect(owner, &ownerRect);
    EXPECT_EQ(ownerRect.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(ownerRect.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    POINT ownerCorner = {0, 0}, corner = {0, 0};
    ClientToScreen(owner, &ownerCorner);
    ClientToScreen(d.window, &corner);
    EXPECT_EQ(corner.x, ownerCorner.x);
    EXPECT_EQ(corner.y, ownerCorner.y);
}

TEST(Dialogs, ProgressDialogStaysOpenThroughEscEnterAndTheCloseBox) {
    std::string exe = placeProbe(bed::caseDir("progress-dialog"), "%s?");
    Dialog seen;
    LRESULT low = -1, high = -1;
    auto r = bed::run(
        exe, "progress",
        [&](const Dialog& d) {
            if (!bed::findControl(d, 1009))
                return;
            seen = d;
            expectAtOwnersCorner(d);
            HWND bar = bed::findControl(d, 1009)->window;
            low = SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
            high = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
            bed::sendKey(d, VK_ESCAPE);
            bed::sendKey(d, VK_RETURN);
            PostMessageA(d.window, WM_SYSCOMMAND, SC_CLOSE, 0);
            PostMessageA(d.window, PROBE_FINISH, 0, 0);
        },
        30000, true);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(seen.caption, "Demo Uninstall");
    EXPECT_EQ(seen.message, "Removing files");
    EXPECT_EQ(seen.className, "#32770");
    EXPECT_TRUE(seen.buttons.empty());
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    auto v = bed::parseValues(r.output);
    EXPECT_EQ(v["commands"], "2,1,2"); // Esc, Enter, the close box: all swallowed
    EXPECT_EQ(v["alive"], "1");
    EXPECT_EQ(v["finished"], "1"); // the work went on until it was told to stop
}

TEST(Dialogs, QuestionDialogLayoutFocusAndPlace) {
    std::string exe = placeProbe(bed::caseDir("question-dialog"), "%s?");

    Dialog seen;
    int focusId = 0;
    auto first = bed::run(
        exe, "ask C:\\x.txt",
        [&](const Dialog& d) {
            seen = d;
            GUITHREADINFO info = {};
            info.cbSize = sizeof(info);
            if (GetGUIThreadInfo(GetWindowThreadProcessId(d.window, nullptr), &info))
                focusId = GetDlgCtrlID(info.hwndFocus);
            expectAtOwnersCorner(d);
            bed::pressButtonId(d, IDYES);
        },
        30000, true);
    ASSERT_TRUE(first.finished);
    ASSERT_EQ(first.windows.size(), 1u);
    std::vector<int> ids;
    for (const bed::Control& c : seen.controls)
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{IDYES, 1001, 1000, IDNO, 1002}));
    EXPECT_EQ(focusId, IDYES);
    EXPECT_EQ(bed::parseValues(first.output)["answer"], "6");
}

} // namespace
