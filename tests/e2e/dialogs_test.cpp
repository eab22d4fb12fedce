// The question dialog as a real window of another process: the probe runs
// the uninstaller's own dialog code with a payload appended. What each answer
// does is in the read-only rows of tests/cases/files.json; the progress
// dialog and the question's controls are Ui.* of the unit tests.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Dialogs, QuestionDialogHasTheFocusOnYesAndSitsAtItsOwnersCorner) {
    varnel::PayloadSpec spec;
    spec.texts = {"Demo Uninstall", "", "", "&Yes", "Yes to &all", "&No",
                  "N&o to all",     "", "", "%s?"};
    std::string exe = bed::caseDir("question-dialog") + "\\probe.exe";
    varnel::writeFileBytes(exe,
                           varnel::attachPayload(varnel::readFileBytes(bed::fixture("probe.exe")),
                                                 varnel::encodePayload(spec)));
    int focusId = 0;
    char name[64] = {};
    POINT ownerCorner = {0, 0}, corner = {0, 0};
    RECT ownerRect = {};
    auto r = bed::run(
        exe, "ask C:\\x.txt",
        [&](const bed::Dialog& d) {
            GUITHREADINFO info = {};
            info.cbSize = sizeof(info);
            if (GetGUIThreadInfo(GetWindowThreadProcessId(d.window, nullptr), &info))
                focusId = GetDlgCtrlID(info.hwndFocus);
            HWND owner = GetWindow(d.window, GW_OWNER);
            GetClassNameA(owner, name, sizeof(name));
            GetWindowRect(owner, &ownerRect);
            ClientToScreen(owner, &ownerCorner);
            ClientToScreen(d.window, &corner);
            bed::pressButtonId(d, IDYES);
        },
        30000, true);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.windows.size(), 1u);
    EXPECT_EQ(focusId, IDYES);
    EXPECT_EQ(bed::parseValues(r.output)["answer"], "6");
    // The hidden owner is centred on the screen; the dialog's client area
    // starts at the corner of the owner's.
    EXPECT_STREQ(name, "VarnelClass");
    EXPECT_EQ(ownerRect.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(ownerRect.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    EXPECT_EQ(corner.x, ownerCorner.x);
    EXPECT_EQ(corner.y, ownerCorner.y);
}
