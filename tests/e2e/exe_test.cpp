// What rows cannot check: the built executable's headers, imports, locator
// and resources read back from its file, and the question dialog's focus and
// place as a window of another process (the probe opens it with the
// uninstaller's own code; what each answer does is in tests/cases/files.json).
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "harness.h"

using varnel::Bytes;

namespace {

Bytes file(const char* name) {
    return varnel::readFileBytes(bed::fixture(name));
}

bool holds(const Bytes& b, const std::string& text) {
    return std::search(b.begin(), b.end(), text.begin(), text.end()) != b.end();
}

TEST(Build, A32BitGuiProgramNamingOnlySystemDllsWithOneLocatorAtItsEnd) {
    Bytes exe = file("uninst.exe");
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        &exe[reinterpret_cast<const IMAGE_DOS_HEADER*>(exe.data())->e_lfanew]);
    ASSERT_EQ(nt->Signature, DWORD(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Every DLL the file names, imported or loaded (uxtheme, when there).
    std::set<std::string> named, allowed = {"kernel32", "user32",   "gdi32",  "advapi32", "shell32",
                                            "ole32",    "comctl32", "msvcrt", "uxtheme"};
    std::string text(exe.begin(), exe.end());
    std::regex dll("([A-Za-z0-9_.-]+)\\.dll", std::regex::icase);
    for (std::sregex_iterator m(text.begin(), text.end(), dll), end; m != end; ++m) {
        std::string name = (*m)[1];
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        named.insert(name);
        EXPECT_TRUE(allowed.count(name)) << "names " << m->str();
    }
    EXPECT_TRUE(named.count("kernel32") && named.count("user32"));
    size_t count = 0;
    for (size_t i = 0; i + 6 <= exe.size(); ++i)
        count += std::memcmp(&exe[i], PAYLOAD_MARKER, 6) == 0;
    EXPECT_EQ(count, 1u);
    auto field = varnel::findLocatorField(exe);
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(varnel::readLocator(exe, *field), exe.size());
    EXPECT_LE(exe.size(), 32768u); // the goal; the build itself stops at 48 KiB
}

TEST(Build, OnlyTheTestBuildCarriesTheSeam) {
    EXPECT_TRUE(holds(file("uninst_seam.exe"), "VARNEL_SEAM"));
    EXPECT_TRUE(holds(file("probe.exe"), "VARNEL_SEAM"));
    EXPECT_FALSE(holds(file("uninst.exe"), "VARNEL_SEAM"));
    EXPECT_FALSE(holds(file("uninst.exe"), "DeleteFileA\t"));
}

struct Resource {
    ULONG_PTR type, id;
    WORD language;
    Bytes data;
};

BOOL CALLBACK language(HMODULE m, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR all) {
    HRSRC r = FindResourceExA(m, type, name, lang);
    auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(m, r)));
    reinterpret_cast<std::vector<Resource>*>(all)->push_back(
        {ULONG_PTR(type), ULONG_PTR(name), lang, Bytes(bytes, bytes + SizeofResource(m, r))});
    return TRUE;
}
BOOL CALLBACK name(HMODULE m, LPCSTR type, LPSTR name, LONG_PTR all) {
    return EnumResourceLanguagesA(m, type, name, language, all) || TRUE;
}
BOOL CALLBACK type(HMODULE m, LPSTR type, LONG_PTR all) {
    return EnumResourceNamesA(m, type, name, all) || TRUE;
}

class Resources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        HMODULE m =
            LoadLibraryExA(bed::fixture("uninst.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EnumResourceTypesA(m, type, LONG_PTR(&all));
        FreeLibrary(m);
    }
    static const Bytes& find(ULONG_PTR type, ULONG_PTR id) {
        for (const Resource& r : all)
            if (r.type == type && r.id == id)
                return r.data;
        static const Bytes none;
        return none;
    }
    static std::vector<Resource> all;
};
std::vector<Resource> Resources::all;

TEST_F(Resources, OnlyTheseAllInLanguage1033) {
    std::set<std::pair<ULONG_PTR, ULONG_PTR>> named,
        expected = {{5, 109}, {5, 110}, {14, 800}, {24, 1}};
    for (const Resource& r : all) {
        EXPECT_EQ(r.language, 1033) << "type " << r.type << " id " << r.id;
        if (r.type != 3) // the icon images are numbered by the group
            named.insert({r.type, r.id});
    }
    EXPECT_EQ(named, expected);
}

// A dialog template written out field by field: at 0,0, 257x73, no menu,
// class or caption, 8 point Arial; items with a class atom or name.
struct Item {
    uint32_t style;
    int x, y, cx, cy, id;
    const char *className, *text;
};
Bytes dialogTemplate(uint32_t style, const std::vector<Item>& items) {
    Bytes t;
    auto word = [&](int v) { varnel::putU16(t, uint16_t(v)); };
    auto text = [&](const char* s) {
        do
            word(uint8_t(*s));
        while (*s++);
    };
    varnel::putU32(t, style);
    varnel::putU32(t, 0);
    for (int v : {int(items.size()), 0, 0, 257, 73, 0, 0})
        word(v);
    text("");
    word(8);
    text("Arial");
    for (const Item& i : items) {
        while (t.size() % 4)
            t.push_back(0);
        varnel::putU32(t, i.style);
        varnel::putU32(t, 0);
        for (int v : {i.x, i.y, i.cx, i.cy, i.id})
            word(v);
        std::string c = i.className;
        if (c == "Button" || c == "Static")
            word(0xFFFF), word(c == "Button" ? 0x80 : 0x82);
        else
            text(i.className);
        text(i.text);
        word(0); // no creation data
    }
    return t;
}

TEST_F(Resources, DialogTemplates) {
    const uint32_t frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
                   button = WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                   text = WS_CHILD | WS_VISIBLE | WS_GROUP;
    EXPECT_EQ(find(5, 109),
              dialogTemplate(frame, {{button | BS_DEFPUSHBUTTON, 20, 52, 50, 14, 6, "Button", ""},
                                     {button, 75, 52, 50, 14, 1001, "Button", ""},
                                     {text, 7, 7, 243, 36, 1000, "Static", ""},
                                     {button, 130, 52, 50, 14, 7, "Button", ""},
                                     {button, 186, 52, 50, 14, 1002, "Button", ""}}));
    EXPECT_EQ(find(5, 110), dialogTemplate(frame | WS_VISIBLE,
                                           {{text | SS_NOPREFIX, 7, 24, 243, 8, 1000, "Static", ""},
                                            {WS_CHILD | WS_VISIBLE, 7, 38, 243, 12, 1009,
                                             "msctls_progress32", "Progress1"}}));
}

TEST_F(Resources, IconGroupOfThreeImages) {
    const Bytes& g = find(14, 800);
    ASSERT_EQ(g.size(), 6u + 3 * 14);
    auto u16 = [](const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; };
    auto u32 = [&](const Bytes& b, size_t at) {
        return uint32_t(u16(b, at) | u16(b, at + 2) << 16);
    };
    EXPECT_EQ(u32(g, 0), 0x10000u); // reserved, type 1: icons
    ASSERT_EQ(u16(g, 4), 3);
    std::multiset<std::pair<int, int>> formats, expected = {{16, 4}, {32, 4}, {32, 8}};
    for (size_t e = 6; e < g.size(); e += 14) {
        int size = g[e], bits = u16(g, e + 6);
        formats.insert({size, bits});
        // width, height, colours, reserved, planes; the image: a
        // BITMAPINFOHEADER of the same size and depth (colour and mask rows),
        // uncompressed, its palette, colour bits and mask.
        EXPECT_EQ(u32(g, e), uint32_t(size | size << 8 | (bits == 4 ? 16 : 0) << 16));
        EXPECT_EQ(u16(g, e + 4), 1);
        const Bytes& d = find(3, u16(g, e + 12));
        ASSERT_GE(d.size(), 40u);
        EXPECT_EQ(u32(g, e + 8), d.size());
        EXPECT_EQ(u32(d, 0), 40u);
        EXPECT_EQ(u32(d, 4), uint32_t(size));
        EXPECT_EQ(u32(d, 8), uint32_t(2 * size));
        EXPECT_EQ(u32(d, 12), uint32_t(1 | bits << 16));
        EXPECT_EQ(u32(d, 16), 0u);
        size_t row = (size_t(size) * bits / 8 + 3) / 4 * 4, mask = (size_t(size) / 8 + 3) / 4 * 4;
        EXPECT_EQ(d.size(), 40 + 4 * (size_t(1) << bits) + size * (row + mask));
    }
    EXPECT_EQ(formats, expected);
}

TEST_F(Resources, ManifestAsksForCommonControls6AndAdministrator) {
    const Bytes& m = find(24, 1);
    std::string xml =
        std::regex_replace(std::string(m.begin(), m.end()), std::regex(">\\s+<"), "><");
    auto count = [&](const std::string& part) {
        size_t n = 0;
        for (size_t at = xml.find(part); at != std::string::npos; at = xml.find(part, at + 1))
            ++n;
        return n;
    };
    for (
        const char* part :
        {R"(<assemblyIdentity version="1.0.0.0" processorArchitecture="X86" name="UninstallProgram" type="win32"/>)",
         R"(<description>Uninstall Program</description>)",
         R"(<dependency><dependentAssembly><assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" )"
         R"(version="6.0.0.0" processorArchitecture="X86" publicKeyToken="6595b64144ccf1df" language="*"/>)"
         R"(</dependentAssembly></dependency>)",
         R"(<security><requestedPrivileges><requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)"})
        EXPECT_EQ(count(part), 1u) << part << " in " << xml;
    EXPECT_EQ(count("<assemblyIdentity"), 2u);
    EXPECT_EQ(count("<requestedExecutionLevel"), 1u);
}

TEST(Dialogs, QuestionDialogHasTheFocusOnYesAndSitsAtItsOwnersCorner) {
    varnel::PayloadSpec spec;
    spec.texts = {"Demo Uninstall", "", "", "&Yes", "Yes to &all", "&No",
                  "N&o to all",     "", "", "%s?"};
    std::string exe = bed::caseDir("question-dialog") + "\\probe.exe";
    varnel::writeFileBytes(exe,
                           varnel::attachPayload(file("probe.exe"), varnel::encodePayload(spec)));
    int focus = 0;
    char name[64] = {};
    POINT ownerCorner = {0, 0}, corner = {0, 0};
    RECT ownerRect = {};
    auto r = bed::run(
        exe, "ask C:\\x.txt",
        [&](const bed::Dialog& d) {
            GUITHREADINFO info = {sizeof(info)};
            GetGUIThreadInfo(GetWindowThreadProcessId(d.window, nullptr), &info);
            focus = GetDlgCtrlID(info.hwndFocus);
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
    EXPECT_EQ(focus, IDYES);
    EXPECT_EQ(bed::parseValues(r.output)["answer"], "6");
    // The hidden owner is centred on the screen; the dialog's client area
    // starts at the corner of the owner's.
    EXPECT_STREQ(name, "VarnelClass");
    EXPECT_EQ(ownerRect.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(ownerRect.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    EXPECT_EQ(corner.x, ownerCorner.x);
    EXPECT_EQ(corner.y, ownerCorner.y);
}

} // namespace
