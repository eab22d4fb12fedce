// The end-to-end cases as data: every case file named on the command line
// (tests/cases/*.json) gives rows of a layout before, a manifest, the answers
// to each window and the layout after. Each case and Windows version is one
// test: lay out, pack the manifest onto the stub, run the uninstaller as a
// separate process, answer its windows, check, clean up. README: "End-to-end
// cases".
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <regex>
#include <set>

#include "harness.h"
#include "varnel.h"

using Json = nlohmann::json;

namespace {

// Every key a part of a case may have: a misspelt key fails the case.
void allowOnly(const Json& j, std::initializer_list<const char*> keys, const std::string& where) {
    if (!j.is_object())
        throw std::runtime_error(where + ": must be an object");
    for (const auto& item : j.items())
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; }))
            throw std::runtime_error(where + ": unknown key \"" + item.key() + "\"");
}

Json list(const Json& j, const char* key) {
    if (!j.contains(key))
        return Json::array();
    return j[key].is_array() ? j[key] : Json::array({j[key]});
}

std::string noTrailingBackslash(std::string path) {
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

// The placeholders, resolved once with the shell's own functions.
const std::map<std::string, std::string>& folders() {
    static std::map<std::string, std::string> all = [] {
        std::map<std::string, std::string> f;
        char buffer[MAX_PATH] = {};
        GetWindowsDirectoryA(buffer, MAX_PATH);
        f["WINDOWS"] = noTrailingBackslash(buffer);
        GetSystemDirectoryA(buffer, MAX_PATH);
        f["SYSTEM"] = noTrailingBackslash(buffer);
        // The folder of the system's 32-bit programs: SysWOW64 under WoW64.
        BOOL wow64 = FALSE;
        IsWow64Process(GetCurrentProcess(), &wow64);
        f["SYSWOW"] = wow64 && GetSystemWow64DirectoryA(buffer, MAX_PATH)
                          ? noTrailingBackslash(buffer)
                          : f["SYSTEM"];
        GetTempPathA(MAX_PATH, buffer);
        f["TEMP"] = noTrailingBackslash(buffer);
        const std::pair<const char*, int> shell[] = {
            {"DESKTOP", CSIDL_DESKTOPDIRECTORY},
            {"PROGRAMS", CSIDL_PROGRAMS},
            {"STARTMENU", CSIDL_STARTMENU},
            {"STARTUP", CSIDL_STARTUP},
            {"PERSONAL", CSIDL_PERSONAL},
            {"APPDATA", CSIDL_APPDATA},
            {"LOCALAPPDATA", CSIDL_LOCAL_APPDATA},
            {"FONTS", CSIDL_FONTS},
            {"PROFILE", CSIDL_PROFILE},
            {"PROGRAMFILES", CSIDL_PROGRAM_FILES},
            {"COMMONFILES", CSIDL_PROGRAM_FILES_COMMON},
            {"COMMONAPPDATA", CSIDL_COMMON_APPDATA},
            {"COMMONDESKTOP", CSIDL_COMMON_DESKTOPDIRECTORY},
            {"COMMONPROGRAMS", CSIDL_COMMON_PROGRAMS},
            {"COMMONDOCUMENTS", CSIDL_COMMON_DOCUMENTS}};
        for (const auto& [name, csidl] : shell)
            if (SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE))
                f[name] = noTrailingBackslash(buffer);
        return f;
    }();
    return all;
}

// One run of a case: its folder, the uninstaller, and what the run made
// outside the folder, to be removed afterwards.
struct Run {
    std::string dir, exe, log;
    std::vector<std::string> made;                                  // files and folders, in order
    std::vector<std::pair<HKEY, std::string>> keys;                 // keys made
    std::vector<std::tuple<HKEY, std::string, REGSAM>> viewKeys;    // keys made in another view
    std::vector<std::tuple<HKEY, std::string, std::string>> values; // values made
    std::vector<HANDLE> held;                                       // files held open

    // %NAME% placeholders; %PADn% fills with 'l' up to n characters in all.
    std::string expand(const std::string& text) const {
        static const std::regex token("%([A-Z]+)([0-9]*)%");
        std::string out;
        std::sregex_iterator it(text.begin(), text.end(), token), end;
        size_t last = 0;
        for (; it != end; ++it) {
            out += text.substr(last, it->position() - last);
            last = it->position() + it->length();
            std::string name = (*it)[1], number = (*it)[2];
            auto found = folders().find(name);
            if (name == "PAD" && !number.empty())
                out.append(std::max<size_t>(std::stoul(number), out.size()) - out.size(), 'l');
            else if (name == "CASE" && number.empty())
                out += dir;
            else if (name == "EXE" && number.empty())
                out += exe;
            else if (found != folders().end() && number.empty())
                out += found->second;
            else
                out += it->str();
        }
        return out + text.substr(last);
    }
    // A path: relative ones are in the case folder.
    std::string path(const std::string& text) const {
        std::string p = expand(text);
        bool absolute = (p.size() >= 2 && p[1] == ':') || p.rfind("\\\\", 0) == 0;
        return absolute ? p : dir + "\\" + p;
    }
    bool inCase(const std::string& p) const { return p.rfind(dir + "\\", 0) == 0; }

    void makeFolders(const std::string& p) {
        for (size_t at = p.find('\\', 3);; at = p.find('\\', at + 1)) {
            std::string part = p.substr(0, at);
            if (!bed::exists(part) && CreateDirectoryA(part.c_str(), nullptr) && !inCase(part))
                made.push_back(part);
            if (at == std::string::npos)
                break;
        }
    }
};

HKEY rootOf(const Json& entry) {
    auto root = varnel::registryRoot(entry.value("root", "HKCU"));
    if (!root)
        throw std::runtime_error("unknown registry root in " + entry.dump());
    return HKEY(ULONG_PTR(*root));
}

// The registry view an entry names ("view": 64 or 32); none: the program's own.
REGSAM viewOf(const Json& entry) {
    int view = entry.value("view", 0);
    return view == 64 ? KEY_WOW64_64KEY : view == 32 ? KEY_WOW64_32KEY : 0;
}

// A key with its sub-keys, in one view.
void deleteTree(HKEY root, const std::string& name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, name.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExA(root, name.c_str(), view, 0);
}

// A registry entry's data as the registry holds it: dword, sz, or binary from hex.
std::pair<DWORD, std::string> registryData(const Run& run, const Json& e) {
    const Json& data = e["data"];
    std::string type = e.value("type", data.is_number() ? "dword" : "sz");
    if (type == "dword") {
        DWORD v = data.get<DWORD>();
        return {REG_DWORD, std::string(reinterpret_cast<const char*>(&v), 4)};
    }
    if (type == "binary") {
        std::string hex = data.get<std::string>(), bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return {REG_BINARY, bytes};
    }
    std::string text = run.expand(data.get<std::string>());
    return {REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

void layOut(Run& run, const Json& before) {
    allowOnly(before, {"files", "folders", "registry", "registryGone", "inUse"}, "before");
    for (const Json& f : list(before, "folders"))
        run.makeFolders(run.path(f));
    for (const Json& f : list(before, "files")) {
        if (f.is_object())
            allowOnly(f, {"path", "content", "fixture", "readOnly"}, "before.files");
        std::string p = run.path(f.is_object() ? f["path"] : f);
        run.makeFolders(p.substr(0, p.find_last_of('\\')));
        if (!run.inCase(p) && !bed::exists(p))
            run.made.push_back(p);
        if (f.is_object() && f.contains("fixture")) {
            std::string from = bed::fixture(f["fixture"]);
            if (!CopyFileA(from.c_str(), p.c_str(), FALSE))
                throw std::runtime_error("cannot copy " + from + " to " + p);
        } else {
            bed::writeText(p, f.is_object() ? f.value("content", "content of " + p)
                                            : "content of " + p);
        }
        if (f.is_object() && f.value("readOnly", false))
            SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    for (const Json& e : list(before, "registryGone")) {
        allowOnly(e, {"root", "key", "value"}, "before.registryGone");
        std::string key = run.expand(e["key"]);
        if (e.contains("value"))
            SHDeleteValueA(rootOf(e), key.c_str(), run.expand(e["value"]).c_str());
        else
            SHDeleteKeyA(rootOf(e), key.c_str());
    }
    for (const Json& e : list(before, "registry")) {
        allowOnly(e, {"root", "key", "value", "type", "data", "view"}, "before.registry");
        HKEY root = rootOf(e), key = nullptr;
        std::string name = run.expand(e["key"]);
        REGSAM view = viewOf(e);
        DWORD disposition = 0;
        if (RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                            &disposition) != ERROR_SUCCESS)
            throw std::runtime_error("cannot create the key " + name);
        if (disposition == REG_CREATED_NEW_KEY && view)
            run.viewKeys.emplace_back(root, name, view);
        else if (disposition == REG_CREATED_NEW_KEY)
            run.keys.emplace_back(root, name);
        if (e.contains("value")) {
            std::string value = run.expand(e["value"]);
            auto [type, bytes] = registryData(run, e);
            if (!view && RegQueryValueExA(key, value.c_str(), nullptr, nullptr, nullptr, nullptr) !=
                             ERROR_SUCCESS)
                run.values.emplace_back(root, name, value);
            RegSetValueExA(key, value.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           DWORD(bytes.size()));
        }
        RegCloseKey(key);
    }
    for (const Json& f : list(before, "inUse")) {
        std::string p = run.path(f);
        HANDLE h = CreateFileA(p.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot hold " + p);
        run.held.push_back(h);
    }
}

void release(Run& run) {
    for (HANDLE h : run.held)
        CloseHandle(h);
    run.held.clear();
}

void cleanUp(Run& run) {
    release(run);
    bed::removeTree(run.dir);
    for (auto p = run.made.rbegin(); p != run.made.rend(); ++p)
        bed::removeTree(*p);
    for (const auto& [root, key, value] : run.values)
        SHDeleteValueA(root, key.c_str(), value.c_str());
    for (auto k = run.keys.rbegin(); k != run.keys.rend(); ++k)
        SHDeleteKeyA(k->first, k->second.c_str());
    for (auto k = run.viewKeys.rbegin(); k != run.viewKeys.rend(); ++k)
        deleteTree(std::get<0>(*k), std::get<1>(*k), std::get<2>(*k));
    if (!run.log.empty())
        DeleteFileA(run.log.c_str());
}

// The bar's position in another window of the process, -1 without a bar.
LRESULT progressPosition(const bed::Dialog& d) {
    DWORD process = 0;
    GetWindowThreadProcessId(d.window, &process);
    for (HWND window : bed::visibleWindows(process))
        if (HWND bar = GetDlgItem(window, 1009))
            return SendMessageA(bar, PBM_GETPOS, 0, 0);
    return -1;
}

// The lines of a text, without their carriage returns.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line.empty() || line.back() != '\r' ? line : line.substr(0, line.size() - 1));
    return out;
}

// A log line matches an expected one that equals it or names its leading fields.
bool logMatches(const std::string& line, const std::string& expected) {
    return line == expected || line.rfind(expected + "\t", 0) == 0;
}

void checkAfter(Run& run, const Json& after, const bed::RunResult& r,
                const std::vector<LRESULT>& positions) {
    allowOnly(after, {"exists", "gone", "registry", "registryGone", "exitCode", "progress", "log"},
              "after");
    EXPECT_EQ(int(r.exitCode), after.value("exitCode", 0));
    for (const Json& f : list(after, "exists")) {
        std::string p = run.path(f.is_object() ? f["path"] : f);
        DWORD attributes = GetFileAttributesA(p.c_str());
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << p << " is gone";
        if (f.is_object() && f.contains("readOnly") && attributes != INVALID_FILE_ATTRIBUTES)
            EXPECT_EQ(bool(attributes & FILE_ATTRIBUTE_READONLY), f["readOnly"].get<bool>()) << p;
        if (f.is_object() && f.contains("has")) {
            std::ifstream in(p, std::ios::binary);
            auto held = lines(std::string(std::istreambuf_iterator<char>(in), {}));
            for (const Json& e : list(f, "has"))
                EXPECT_NE(std::find(held.begin(), held.end(), run.expand(e)), held.end())
                    << p << " has no line " << run.expand(e);
        }
    }
    for (const Json& f : list(after, "gone"))
        EXPECT_FALSE(bed::exists(run.path(f))) << run.path(f) << " is still there";
    for (const char* which : {"registry", "registryGone"}) {
        bool present = std::string(which) == "registry";
        for (const Json& e : list(after, which)) {
            std::string key = run.expand(e["key"]);
            HKEY handle = nullptr;
            bool keyThere = RegOpenKeyExA(rootOf(e), key.c_str(), 0, KEY_READ | viewOf(e),
                                          &handle) == ERROR_SUCCESS;
            std::string name = e.contains("value") ? run.expand(e["value"]) : "";
            DWORD type = 0, size = 0;
            bool there = keyThere && (!e.contains("value") ||
                                      RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                                                       nullptr, &size) == ERROR_SUCCESS);
            EXPECT_EQ(there, present) << key << " " << name;
            if (there && e.contains("data")) {
                std::string data(size, '\0');
                RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(&data[0]), &size);
                auto expected = registryData(run, e);
                EXPECT_EQ(type, expected.first) << key << " " << name;
                EXPECT_EQ(data, expected.second) << key << " " << name;
            }
            if (keyThere)
                RegCloseKey(handle);
        }
    }
    if (after.contains("progress"))
        EXPECT_EQ(positions, after["progress"].get<std::vector<LRESULT>>());
    if (after.contains("log")) {
        allowOnly(after["log"], {"has", "hasNot"}, "after.log");
        std::ifstream in(run.log, std::ios::binary);
        std::vector<std::string> log = lines(std::string(std::istreambuf_iterator<char>(in), {}));
        size_t at = 0;
        for (const Json& e : list(after["log"], "has")) {
            std::string expected = run.expand(e);
            while (at < log.size() && !logMatches(log[at], expected))
                ++at;
            EXPECT_LT(at, log.size()) << "not in the log (in this order): " << expected;
            at = std::min(at + 1, log.size());
        }
        for (const Json& e : list(after["log"], "hasNot"))
            for (const std::string& line : log)
                EXPECT_FALSE(logMatches(line, run.expand(e))) << "in the log: " << line;
    }
}

// The windows with buttons, answered in order; the progress dialog has none
// and is left alone. A case without answers expects no window at all.
bed::RunResult runWithAnswers(Run& run, const std::string& options, const Json& answers,
                              std::vector<LRESULT>& positions) {
    std::vector<Json> queue;
    for (const Json& a : answers) {
        allowOnly(a, {"message", "caption", "buttons", "icon", "press", "key", "times", "release"},
                  "answers");
        for (int i = 0; i < a.value("times", 1); ++i)
            queue.push_back(a);
    }
    size_t next = 0;
    bed::RunResult r = bed::run(run.exe, options, [&](const bed::Dialog& d) {
        if (d.buttons.empty())
            return;
        positions.push_back(progressPosition(d));
        if (next == queue.size()) {
            ADD_FAILURE() << "unexpected window: " << d.caption << ": " << d.message;
            bed::sendKey(d, VK_ESCAPE);
            return;
        }
        const Json& a = queue[next++];
        SCOPED_TRACE("window " + std::to_string(next) + ": " + d.message);
        if (a.contains("message"))
            EXPECT_EQ(d.message, run.expand(a["message"]));
        if (a.contains("caption"))
            EXPECT_EQ(d.caption, run.expand(a["caption"]));
        if (a.contains("buttons"))
            EXPECT_EQ(d.buttons, a["buttons"].get<std::vector<std::string>>());
        if (a.contains("icon"))
            EXPECT_EQ(d.icon, a["icon"].get<std::string>());
        if (a.value("release", false))
            release(run);
        std::string key = a.value("key", "");
        if (key == "Esc" || key == "Enter")
            bed::sendKey(d, key == "Esc" ? VK_ESCAPE : VK_RETURN);
        else if (key == "Close")
            PostMessageA(d.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (!bed::pressButton(d, a.value("press", ""))) {
            ADD_FAILURE() << "no button \"" << a.value("press", "") << "\"";
            bed::sendKey(d, VK_ESCAPE);
        }
    });
    EXPECT_TRUE(r.finished) << "killed after the time-out";
    EXPECT_EQ(next, queue.size()) << "fewer windows than answers";
    if (queue.empty())
        EXPECT_TRUE(r.windows.empty())
            << r.windows.size() << " windows, the first: " << r.windows[0].caption << ": "
            << r.windows[0].message;
    return r;
}

// The usual form is packed as the tool packs it. The record form is packed
// record by record, raw records as they stand: its rows hold the damaged
// payloads that the tool refuses to pack.
varnel::Bytes pack(const Json& manifest) {
    if (!manifest.contains("records"))
        return varnel::payloadBytesUnchecked(varnel::manifestFromJson(manifest));
    varnel::Bytes out;
    for (const Json& r : manifest["records"]) {
        Json one = manifest;
        one["records"] = {r, {{"type", "end"}}};
        varnel::Manifest m = varnel::manifestFromJson(one);
        const varnel::RawRecord& raw = (*m.records)[0].raw;
        if ((*m.records)[0].kind == varnel::RecordKind::Raw) {
            varnel::append(out, varnel::recordHeader(raw.tag, uint32_t(raw.body.size()), raw.flags,
                                                     raw.reserved));
            varnel::append(out, raw.body);
        } else {
            varnel::Bytes b = varnel::payloadBytesUnchecked(m);
            out.insert(out.end(), b.begin(), b.end() - PAYLOAD_HEADER_SIZE);
        }
    }
    return out;
}

void runCase(const Json& c, const std::string& version) {
    allowOnly(c,
              {"name", "versions", "beds", "options", "before", "manifest", "locator", "answers",
               "faults", "log", "after"},
              c.value("name", "a case"));
    // "beds": the kinds of test bed the case runs in (default: every kind).
    char kind[16] = "win32";
    GetEnvironmentVariableA("VARNEL_BED_KIND", kind, sizeof(kind));
    if (c.contains("beds") &&
        std::count(c["beds"].begin(), c["beds"].end(), std::string(kind)) == 0)
        GTEST_SKIP() << "only in the test beds " << c["beds"].dump();
    std::string stub = "uninst.exe";
    if (c.contains("faults") || c.value("log", false)) {
        stub = "uninst_seam.exe";
        try {
            bed::fixture(stub);
        } catch (const std::exception&) {
            GTEST_SKIP() << "needs uninst_seam.exe (the test build), which was not given";
        }
    }
    for (const Json& options :
         list(c, "options").empty() ? Json::array({""}) : list(c, "options")) {
        SCOPED_TRACE("options \"" + options.get<std::string>() + "\"");
        Run run;
        run.dir = bed::caseDir(c["name"]);
        run.exe = run.dir + "\\uninst.exe";
        try {
            layOut(run, c.value("before", Json::object()));
            varnel::Bytes exe = varnel::readFileBytes(bed::fixture(stub));
            if (c.contains("manifest")) {
                Json manifest = c["manifest"];
                std::function<void(Json&)> expandAll = [&](Json& j) {
                    if (j.is_string())
                        j = run.expand(j);
                    else if (j.is_structured())
                        for (auto& item : j)
                            expandAll(item);
                };
                expandAll(manifest);
                exe = varnel::attachPayload(exe, pack(manifest));
            }
            if (c.contains("locator")) {
                size_t field = *varnel::findLocatorField(exe);
                for (int i = 0; i < 4; ++i)
                    exe[field + i] = uint8_t(c["locator"].get<uint32_t>() >> (8 * i));
            }
            varnel::writeFileBytes(run.exe, exe);
            bed::setWindowsVersion("uninst.exe", version);
            SetEnvironmentVariableA("VARNEL_SEAM", c.contains("faults")
                                                       ? c["faults"].get<std::string>().c_str()
                                                       : nullptr);
            if (c.value("log", false))
                run.log = run.dir + ".seam.log";
            SetEnvironmentVariableA("VARNEL_SEAM_LOG", run.log.empty() ? nullptr : run.log.c_str());
            std::vector<LRESULT> positions;
            bed::RunResult r =
                runWithAnswers(run, options, c.value("answers", Json::array()), positions);
            release(run);
            checkAfter(run, c.value("after", Json::object()), r, positions);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        cleanUp(run);
    }
}

class Case : public ::testing::Test {
  public:
    Case(Json c, std::string version) : c_(std::move(c)), version_(std::move(version)) {}
    void TestBody() override { runCase(c_, version_); }

  private:
    Json c_;
    std::string version_;
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bed::registerFixtures(argc, argv);
    std::set<std::string> names;
    for (int i = 1; i < argc; ++i) {
        std::string file = argv[i];
        if (file.size() < 5 || file.substr(file.size() - 5) != ".json")
            continue;
        std::ifstream in(file);
        Json all = Json::parse(in, nullptr, true, true);
        std::string suite = file.substr(file.find_last_of('\\') + 1);
        suite = suite.substr(0, suite.size() - 5);
        for (Json c : all.is_array() ? all : all["cases"]) {
            if (all.is_object() && all.contains("defaults")) {
                Json merged = all["defaults"];
                merged.merge_patch(c);
                c = merged;
            }
            std::string name = c.at("name");
            if (!names.insert(name).second)
                throw std::runtime_error("two cases named " + name);
            for (const Json& v : c.value("versions", Json::array({"winxp"}))) {
                std::string version = v;
                ::testing::RegisterTest(suite.c_str(), (name + "/" + version).c_str(), nullptr,
                                        nullptr, file.c_str(), 0,
                                        [=]() -> ::testing::Test* { return new Case(c, version); });
            }
        }
    }
    return RUN_ALL_TESTS();
}
