// The installed-file pass, end to end: order, folders, files in use,
// read-only files, shared-file counts, progress, on several Windows versions.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "harness.h"

using namespace varnel;
using bed::Dialog;

namespace {

const char* SHARED_DLLS = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::vector<std::string> texts() {
    std::vector<std::string> t(16);
    t[0] = "Files Test";
    t[1] = "Remove it?";
    t[3] = "Yes";
    t[4] = "Yes to all";
    t[5] = "No";
    t[6] = "No to all";
    t[9] = "The file %s is write-protected. Delete it anyway?";
    t[10] = "No other program uses %s any more. Delete it?";
    t[15] = "A file is still in use. Close the program and press Retry.";
    return t;
}

Bytes payload(const std::vector<FileSpec>& files, std::vector<std::string> t = texts()) {
    PayloadSpec spec;
    spec.texts = std::move(t);
    spec.files = files;
    return encodePayload(spec);
}

void makeFile(const std::string& path, bool readOnly = false) {
    bed::writeText(path, "content of " + path);
    if (readOnly)
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

bool isReadOnly(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

// Holds a file open without sharing, as a running program holds its files.
struct Holder {
    HANDLE file;
    explicit Holder(const std::string& path) {
        file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    }
    void release() {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    ~Holder() { release(); }
};

std::vector<Dialog> questions(const bed::RunResult& r) {
    std::vector<Dialog> out;
    for (const Dialog& d : r.windows)
        if (d.caption == "Files Test" && (bed::findControl(d, 1001) || bed::isMessageBox(d)))
            out.push_back(d);
    return out;
}

class Files : public ::testing::TestWithParam<const char*> {
  protected:
    std::string dir;
    std::string exeName;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '-';
        dir = bed::caseDir(name);
        exeName = "files_" + std::string(GetParam()) + ".exe";
    }
    std::string path(const std::string& relative) { return dir + "\\" + relative; }
    std::string place(const Bytes& p) { return bed::placeUninstaller(dir, p, exeName, GetParam()); }
};

TEST_P(Files, RemovesFromLastToFirstAndKeepsWhatIsNotEmpty) {
    for (const char* sub : {"sub", "sub\\deep", "keep", "other"})
        CreateDirectoryA(path(sub).c_str(), nullptr);
    makeFile(path("root.txt"));
    makeFile(path("sub\\a.txt"));
    makeFile(path("sub\\deep\\b.txt"));
    makeFile(path("keep\\listed.txt"));
    makeFile(path("keep\\not-listed.txt"));
    makeFile(path("other\\other-product.txt"));
    makeFile(path("dotname.txt"));
    makeFile(path("bare.txt"));
    std::string exe = place(payload({
        {".", "", 0},
        {".\\sub", "", 0},
        {".\\sub", "a.txt", 0},
        {".\\sub\\deep", "", 0},
        {".\\sub\\deep", "b.txt", 0},
        {".\\keep", "", 0},
        {".\\keep", "listed.txt", 0},
        {".", "root.txt", 0},
        {".x", "dotname.txt", 0}, // a dot without a backslash: the installation folder
        {"", "bare.txt", 0},      // relative to the current folder: the installation folder here
        {dir + "\\sub\\deep", "missing.txt", 0},
    }));
    auto r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.windows.empty());
    for (const char* gone : {"root.txt", "sub\\a.txt", "sub\\deep\\b.txt", "sub\\deep", "sub",
                             "keep\\listed.txt", "dotname.txt", "bare.txt"})
        EXPECT_FALSE(bed::exists(path(gone))) << gone;
    for (const char* kept : {"keep", "keep\\not-listed.txt", "other\\other-product.txt"})
        EXPECT_TRUE(bed::exists(path(kept))) << kept;
    EXPECT_TRUE(bed::exists(exe)); // "." holds the uninstaller, so it stays
}

TEST_P(Files, ProtectedFolderListedAsAnEntryStays) {
    char desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE));
    CreateDirectoryA(desktop, nullptr);
    std::string empty = path("empty");
    CreateDirectoryA(empty.c_str(), nullptr);
    std::string exe = place(payload({{desktop, "", 0}, {empty, "", 0}}));
    auto r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(bed::exists(desktop)); // empty, but protected
    EXPECT_FALSE(bed::exists(empty));
}

TEST_P(Files, PathTooLongForTheBufferIsSkippedNotCut) {
    // The folder is 250 bytes; with the name the path would need 268.
    std::string folder = dir + "\\" + std::string(249 - dir.size(), 'l');
    ASSERT_EQ(folder.size(), 250u);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string decoy = folder + "\\decoy123"; // what a path cut at 259 bytes would name
    makeFile(decoy);
    std::string exe = place(payload({{folder, "decoy123_tail.txt", 0}, {folder, "", 0}}));
    auto r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(bed::exists(decoy));
}

TEST_P(Files, FileInUseIsSkippedSilently) {
    makeFile(path("busy.dll"));
    makeFile(path("free.dll"));
    Holder holder(path("busy.dll"));
    std::string exe = place(payload({{".", "busy.dll", 0}, {".", "free.dll", 0}}));
    auto r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.windows.empty());
    EXPECT_TRUE(bed::exists(path("busy.dll")));
    EXPECT_FALSE(bed::exists(path("free.dll")));
}

TEST_P(Files, InUseCheckBeforeStartRetriesAndCancels) {
    makeFile(path("app.exe"));
    makeFile(path("other.txt"));
    std::string exe = place(payload({{".", "other.txt", 0}, {".", "app.exe", FE_CHECKINUSE}}));
    const std::string inUse = "A file is still in use. Close the program and press Retry.";
    {
        Holder holder(path("app.exe"));
        int retries = 0;
        auto r = bed::run(exe, "", [&](const Dialog& d) {
            if (d.message == "Remove it?")
                bed::pressButton(d, "OK");
            else if (d.message == inUse && retries < 2 && ++retries)
                bed::pressButton(d, "Retry");
            else if (d.message == inUse)
                bed::pressButton(d, "Cancel");
        });
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        ASSERT_EQ(r.windows.size(), 4u); // confirmation, in use three times
        EXPECT_EQ(r.windows[1].buttons, (std::vector<std::string>{"Retry", "Cancel"}));
        EXPECT_EQ(r.windows[1].icon, "information");
        EXPECT_TRUE(bed::exists(path("other.txt"))); // Cancel removes nothing
    }
    {
        Holder holder(path("app.exe"));
        auto r = bed::run(exe, "", [&](const Dialog& d) {
            if (d.message == "Remove it?")
                bed::pressButton(d, "OK");
            else if (d.message == inUse) {
                holder.release(); // the program has ended
                bed::pressButton(d, "Retry");
            }
        });
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_FALSE(bed::exists(path("app.exe")));
        EXPECT_FALSE(bed::exists(path("other.txt")));
    }
}

struct ReadOnlyCase {
    const char* answer; // button label, or "Esc"
    int questions;
    bool r1, r2, r3; // whether each file stays
};

TEST_P(Files, ReadOnlyFilesAreAskedAbout) {
    const ReadOnlyCase cases[] = {
        {"Yes", 3, false, false, false},        {"No", 3, true, true, true},
        {"Yes to all", 1, false, false, false}, {"No to all", 1, true, true, true},
        {"Esc", 3, true, true, true},
    };
    for (const ReadOnlyCase& c : cases) {
        SCOPED_TRACE(c.answer);
        for (const char* f : {"r1.txt", "r2.txt", "r3.txt"})
            makeFile(path(f), true);
        std::string exe =
            place(payload({{".", "r1.txt", 0}, {".", "r2.txt", 0}, {".", "r3.txt", 0}}));
        std::vector<std::string> asked;
        auto r = bed::run(exe, "/S", [&](const Dialog& d) {
            asked.push_back(d.message);
            if (std::string(c.answer) == "Esc")
                bed::sendKey(d, VK_ESCAPE);
            else
                bed::pressButton(d, c.answer);
        });
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0u);
        ASSERT_EQ(int(asked.size()), c.questions);
        // last entry first, the path in the question
        EXPECT_EQ(asked[0],
                  "The file " + path("r3.txt") + " is write-protected. Delete it anyway?");
        const Dialog& q = r.windows[0];
        EXPECT_EQ(q.caption, "Files Test");
        EXPECT_EQ(q.buttons, (std::vector<std::string>{"Yes", "Yes to all", "No", "No to all"}));
        EXPECT_EQ(bed::exists(path("r1.txt")), c.r1);
        EXPECT_EQ(bed::exists(path("r2.txt")), c.r2);
        EXPECT_EQ(bed::exists(path("r3.txt")), c.r3);
        if (c.r3)
            EXPECT_TRUE(isReadOnly(path("r3.txt")));
    }
}

TEST_P(Files, ReadOnlyFontsAndServersAndEmptyQuestionGoWithoutAsking) {
    makeFile(path("font.ttf"), true);
    makeFile(path("server.dll"), true);
    std::string exe = place(payload({{".", "font.ttf", FE_FONT}, {".", "server.dll", FE_SELFREG}}));
    auto r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.windows.empty());
    EXPECT_FALSE(bed::exists(path("font.ttf")));
    EXPECT_FALSE(bed::exists(path("server.dll")));

    auto t = texts();
    t[9] = "";
    makeFile(path("r1.txt"), true);
    makeFile(path("r2.txt"), true);
    exe = place(payload({{".", "r1.txt", 0}, {".", "r2.txt", 0}}, t));
    r = bed::run(exe, "/S");
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(r.windows.empty());
    EXPECT_FALSE(bed::exists(path("r1.txt")));
    EXPECT_FALSE(bed::exists(path("r2.txt")));
}

TEST_P(Files, ProgressMovesByEntryWithADialog) {
    for (const char* f : {"p1.txt", "p2.txt", "p3.txt", "p4.txt"})
        makeFile(path(f), true);
    // 4 files: progressTotal 8, positions 0, 12, 25, 37 after entries 0..3
    std::string exe = place(
        payload({{".", "p1.txt", 0}, {".", "p2.txt", 0}, {".", "p3.txt", 0}, {".", "p4.txt", 0}}));
    std::vector<LRESULT> positions;
    auto r = bed::run(exe, "", [&](const Dialog& d) {
        if (d.message == "Remove it?") {
            bed::pressButton(d, "OK");
            return;
        }
        if (!bed::findControl(d, 1001))
            return;
        // The progress dialog is another window of the same process.
        DWORD process = 0;
        GetWindowThreadProcessId(d.window, &process);
        LRESULT position = -1;
        for (HWND window : bed::visibleWindows(process))
            if (HWND bar = GetDlgItem(window, 1009))
                position = SendMessageA(bar, 0x0408 /* PBM_GETPOS */, 0, 0);
        positions.push_back(position);
        bed::pressButton(d, "Yes");
    });
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(positions, (std::vector<LRESULT>{0, 0, 12, 25}));
}

struct SharedCase {
    const char* what;
    enum { NO_KEY, NO_VALUE, LONG_VALUE, COUNT } state;
    DWORD count;
    bool inUse;
    const char* answer; // nullptr: no question expected
    bool textEmpty;
    bool fileStays;
    enum { UNCHANGED, DELETED, WRITTEN } registry;
    DWORD written;
};

TEST_P(Files, SharedReferenceCounts) {
    const SharedCase cases[] = {
        {"key missing, Yes", SharedCase::NO_KEY, 0, false, "Yes", false, false,
         SharedCase::UNCHANGED, 0},
        {"key missing, No", SharedCase::NO_KEY, 0, false, "No", false, true, SharedCase::UNCHANGED,
         0},
        {"key missing, in use", SharedCase::NO_KEY, 0, true, nullptr, false, true,
         SharedCase::UNCHANGED, 0},
        {"no value, Yes", SharedCase::NO_VALUE, 0, false, "Yes", false, false,
         SharedCase::UNCHANGED, 0},
        {"no value, No", SharedCase::NO_VALUE, 0, false, "No", false, true, SharedCase::UNCHANGED,
         0},
        {"no value, in use", SharedCase::NO_VALUE, 0, true, nullptr, false, true,
         SharedCase::UNCHANGED, 0},
        {"long value, Yes", SharedCase::LONG_VALUE, 0, false, "Yes", false, false,
         SharedCase::DELETED, 0},
        {"long value, in use", SharedCase::LONG_VALUE, 0, true, nullptr, false, true,
         SharedCase::UNCHANGED, 0},
        {"count 0, Yes", SharedCase::COUNT, 0, false, "Yes", false, false, SharedCase::DELETED, 0},
        {"count 0, No", SharedCase::COUNT, 0, false, "No", false, true, SharedCase::WRITTEN, 0},
        {"count 0, in use", SharedCase::COUNT, 0, true, nullptr, false, true, SharedCase::WRITTEN,
         0},
        {"count 1, Yes", SharedCase::COUNT, 1, false, "Yes", false, false, SharedCase::DELETED, 0},
        {"count 1, No", SharedCase::COUNT, 1, false, "No", false, true, SharedCase::WRITTEN, 0},
        {"count 1, in use", SharedCase::COUNT, 1, true, nullptr, false, true, SharedCase::WRITTEN,
         1},
        {"count 3", SharedCase::COUNT, 3, false, nullptr, false, true, SharedCase::WRITTEN, 2},
        {"count 3, in use", SharedCase::COUNT, 3, true, nullptr, false, true, SharedCase::WRITTEN,
         2},
        {"count 1, text empty", SharedCase::COUNT, 1, false, nullptr, true, false,
         SharedCase::DELETED, 0},
    };
    for (const SharedCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = path("shared.dll");
        makeFile(file);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS); // fails while values exist
        HKEY key = nullptr;
        if (c.state == SharedCase::NO_KEY) {
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_ALL_ACCESS, &key);
            if (key) {
                RegDeleteValueA(key, file.c_str());
                RegCloseKey(key);
            }
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, SHARED_DLLS);
            ASSERT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ, &key),
                      ERROR_SUCCESS);
        } else {
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegDeleteValueA(key, file.c_str());
            if (c.state == SharedCase::LONG_VALUE) {
                const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
                RegSetValueExA(key, file.c_str(), 0, REG_BINARY, eight, 8);
            } else if (c.state == SharedCase::COUNT) {
                RegSetValueExA(key, file.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&c.count), 4);
            }
            RegCloseKey(key);
        }
        auto t = texts();
        if (c.textEmpty)
            t[10] = "";
        std::string exe = place(payload({{".", "shared.dll", FE_SHARED}}, t));
        auto holder = c.inUse ? std::make_unique<Holder>(file) : nullptr;
        std::vector<std::string> asked;
        auto r = bed::run(exe, "/S", [&](const Dialog& d) {
            asked.push_back(d.message);
            bed::pressButton(d, c.answer ? c.answer : "No");
        });
        holder.reset();
        ASSERT_TRUE(r.finished);
        if (c.answer) {
            ASSERT_EQ(asked.size(), 1u);
            EXPECT_EQ(asked[0], "No other program uses " + file + " any more. Delete it?");
            EXPECT_EQ(r.windows[0].icon, "question");
            EXPECT_EQ(r.windows[0].buttons, (std::vector<std::string>{"Yes", "No"}));
        } else {
            EXPECT_TRUE(asked.empty());
        }
        EXPECT_EQ(bed::exists(file), c.fileStays);

        DWORD value = 0xFFFF, size = sizeof(value), type = 0;
        LONG read = ERROR_FILE_NOT_FOUND;
        bool keyExists =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (keyExists) {
            BYTE data[16];
            DWORD dataSize = sizeof(data);
            read = RegQueryValueExA(key, file.c_str(), nullptr, &type, data, &dataSize);
            size = dataSize;
            memcpy(&value, data, 4);
            RegCloseKey(key);
        }
        if (c.state == SharedCase::NO_KEY)
            EXPECT_FALSE(keyExists);
        switch (c.registry) {
        case SharedCase::UNCHANGED:
            if (c.state == SharedCase::LONG_VALUE) {
                EXPECT_EQ(read, ERROR_SUCCESS);
                EXPECT_EQ(size, 8u);
            } else {
                EXPECT_NE(read, ERROR_SUCCESS);
            }
            break;
        case SharedCase::DELETED:
            EXPECT_NE(read, ERROR_SUCCESS);
            break;
        case SharedCase::WRITTEN:
            EXPECT_EQ(read, ERROR_SUCCESS);
            EXPECT_EQ(type, DWORD(REG_DWORD));
            EXPECT_EQ(value, c.written);
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, Files, ::testing::Values("win98", "win10"));

} // namespace
