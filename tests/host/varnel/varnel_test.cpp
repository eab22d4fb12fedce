// The authoring tool: the rows of check.txt, payload.txt and cli.txt, each run by one runner,
// and what only the library reaches.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <unistd.h>

#include "varnel.h"

using namespace varnel;
namespace fs = std::filesystem;

namespace {

const size_t npos = std::string::npos;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t end; (end = text.find(separator, at)) != npos; at = end + separator.size())
        out.push_back(text.substr(at, end - at));
    out.push_back(text.substr(at));
    return out;
}

// Calls `run(where, left, right)` for each row "LEFT => RIGHT" of a data file (blank lines and "#"
// lines passed over) and reports what it throws; <TEXT*N> in a row is TEXT N times.
template <typename Run> void forEachRow(const std::string& name, Run run) {
    std::ifstream in(VARNEL_TEST_DATA "/" + name);
    std::string line;
    EXPECT_TRUE(in) << name;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        static const std::regex repeated("<([^<>*]+)\\*([0-9]+)>");
        for (std::smatch m; std::regex_search(line, m, repeated);) {
            std::string text;
            for (int n = std::stoi(m[2]); n > 0; --n)
                text += m[1].str();
            line.replace(size_t(m.position()), size_t(m.length()), text);
        }
        std::string where = name + ":" + std::to_string(number);
        size_t arrow = line.find(" => ");
        EXPECT_NE(arrow, npos) << where;
        try {
            run(where, line.substr(0, arrow), arrow == npos ? "" : line.substr(arrow + 4));
        } catch (const std::exception& e) {
            ADD_FAILURE() << where << ": " << e.what();
        }
    }
}

// "HEAD: PART" matches a text that begins with "HEAD: " and holds PART after it.
bool matches(const std::string& text, const std::string& expected) {
    size_t colon = expected.find(": ");
    std::string head = expected.substr(0, colon == npos ? expected.find(':') : colon) + ": ";
    std::string part = colon == npos ? "" : expected.substr(colon + 2);
    return text.rfind(head, 0) == 0 && text.find(part, head.size()) != npos;
}

// Hex pairs, and "..." for characters as they stand; spaces are passed over.
Bytes hexBytes(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '"') {
            size_t end = text.find('"', i + 1);
            out.insert(out.end(), text.begin() + long(i) + 1, text.begin() + long(end));
            i = end;
        } else if (text[i] != ' ') {
            out.push_back(uint8_t(std::stoi(text.substr(i++, 2), nullptr, 16)));
        }
    return out;
}

// A stand-in for the uninstaller: a PE header, the payload marker and a locator of 0, more bytes.
Bytes fakeStub() {
    Bytes stub = hexBytes("\"MZ\"" + std::string(116, '0') +
                          " 40000000 \"PE\" 0000 \"stub code wwgT)H\" 00000000");
    stub.resize(stub.size() + 21, 0x90);
    return stub;
}

} // namespace

// check.txt: MANIFEST => ok, or "LEVEL WHERE: part" of each finding in order, those of reading
// the manifest first; errors stop packing, warnings do not.
TEST(Varnel, CheckRows) {
    forEachRow("check.txt", [](auto where, auto manifest, auto right) {
        std::vector<std::string> got;
        auto found = [&](bool error, const std::string& at, const std::string& message) {
            got.push_back((error ? "error" : "warning") + (at.empty() ? "" : " " + at) + ": " +
                          message);
        };
        try {
            for (const Diagnostic& d : checkManifestText(manifest))
                found(d.level == Diagnostic::Level::Error, d.where, d.message);
        } catch (const ManifestError& e) {
            found(true, "", e.problem);
        }
        std::vector<std::string> expected = split(right, " | ");
        bool same = got.empty() ? right == "ok" : got.size() == expected.size();
        for (size_t i = 0; same && i < got.size(); ++i)
            same = matches(got[i], expected[i]);
        EXPECT_TRUE(same) << where << ": " << testing::PrintToString(got);
        if (right.find("error") == npos)
            EXPECT_NO_THROW(buildPayload(parseManifest(manifest))) << where;
        else
            EXPECT_THROW(buildPayload(parseManifest(manifest)), std::runtime_error) << where;
    });
}

// payload.txt: MANIFEST [cut N] => what an uninstaller with its payload (packed unchecked, less
// its last N bytes) dumps to, without a code page unless it is in the record form: the payload's
// bytes (after its information record, unless the row gives that too) and the manifest back, "same"
// (the manifest), another manifest, "records" (the record form), or "damage OFFSET [TAG@RECORD]:
// part" with offsets from the payload's start. Whatever is dumped packs to the same payload again,
// also through its printed JSON.
TEST(Varnel, PayloadRows) {
    const Bytes stub = fakeStub();
    forEachRow("payload.txt", [&](auto where, auto left, auto right) {
        size_t cut = left.rfind(" cut ");
        Manifest given = parseManifest(left.substr(0, cut));
        Bytes payload = payloadBytesUnchecked(given);
        if (cut != npos)
            payload.resize(payload.size() - std::stoul(left.substr(cut + 5)));
        Manifest back;
        try {
            // The usual form names its code page in its information record.
            back = manifestFromUninstaller(attachPayload(stub, payload),
                                           given.records ? std::optional(given.codePage)
                                                         : std::nullopt);
        } catch (const PayloadDamage& d) {
            std::string text = "damage " + std::to_string(d.offset - stub.size());
            if (d.tag)
                text += " " + tagName(*d.tag) + "@" + std::to_string(*d.recordOffset - stub.size());
            EXPECT_TRUE(matches(text + ": " + d.problem, right)) << where << ": " << d.what();
            return;
        }
        EXPECT_EQ(buildPayload(parseManifest(formatManifest(back))), payload) << where;
        if (right == "records")
            EXPECT_TRUE(back.records) << where << ": " << formatManifest(back);
        else if (right != "same" && right[0] != '{') {
            Bytes expected = hexBytes(right), got = payload;
            // The information record that pack puts first, unless the row expects it.
            auto tag = [](const Bytes& b) {
                return b.size() < PAYLOAD_HEADER_SIZE ? 0 : b[0] | b[1] << 8;
            };
            if (tag(got) == RT_INFO && tag(expected) != RT_INFO) {
                uint32_t length = got[4] | got[5] << 8 | got[6] << 16 | uint32_t(got[7]) << 24;
                got.erase(got.begin(), got.begin() + PAYLOAD_HEADER_SIZE + length);
            }
            EXPECT_EQ(got, expected) << where;
        }
        if (right != "records")
            EXPECT_EQ(manifestToJson(back),
                      manifestToJson(parseManifest(right[0] == '{' ? right : left)))
                << where;
    });
}

// cli.txt: a bash fragment, run in one folder that starts with stub.exe (fakeStub) and demo.json,
// with $V the program and $S the folder of the built stubs => its exit code, then "out= TEXT" (the
// whole standard output, a newline added unless empty), "out~ TEXT" (a part of it), "err= ", "err~
// "; "\n" is a newline. A row that exits with 77 is skipped.
TEST(Varnel, CliRows) {
    fs::path dir = fs::temp_directory_path() / ("varnel-cli-" + std::to_string(getpid()));
    fs::create_directories(dir / "work");
    writeFileBytes((dir / "work/stub.exe").string(), fakeStub());
    fs::copy_file(VARNEL_DEMO_MANIFEST, dir / "work/demo.json");
    forEachRow("cli.txt", [&](auto where, auto fragment, auto right) {
        std::ofstream(dir / "row.sh") << fragment << "\n";
        std::string command = "cd '" + (dir / "work").string() +
                              "' && unset VARNEL_STUB && umask 022 && S='" VARNEL_STUB_DIR
                              "' V='" VARNEL_EXE "' bash ../row.sh >../out 2>../err";
        int status = std::system(command.c_str());
        std::string code = std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        std::string out = readText(dir / "out"), err = readText(dir / "err");
        std::vector<std::string> want = split(right, " | ");
        if (code == "77" && want[0] != "77")
            return void(std::cout << where << ": skipped\n");
        EXPECT_EQ(code, want[0]) << where << "\n" << err;
        for (size_t i = 1; i < want.size(); ++i) {
            std::string text = want[i].size() > 5 ? want[i].substr(5) : "";
            for (size_t at = 0; (at = text.find("\\n", at)) != npos;)
                text.replace(at, 2, "\n");
            const std::string& stream = want[i].rfind("out", 0) == 0 ? out : err;
            if (want[i][3] == '=')
                EXPECT_EQ(stream, text.empty() ? text : text + "\n") << where;
            else
                EXPECT_NE(stream.find(text), npos) << where << ": no " << text << " in\n" << stream;
        }
    });
    fs::remove_all(dir);
}

// What an installer reaches only through the library: bytes that are not UTF-8, a manifest built
// in code, every byte of code page 1252 there and back, a registration that was never checked.
TEST(Varnel, LibraryOnly) {
    for (const char* bad : {"\xC0\xAF", "\x80", "a\xE2\x82", "\xED\xA0\x80", "\xF8\x88\x80\x80"})
        EXPECT_FALSE(utf8ToCodePage(bad, 1252)) << bad;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    EXPECT_EQ(utf8ToCodePage(codePageToUtf8(all, 1252).value_or(""), 1252), all);
    Manifest m;
    m.texts.texts[0] = "Demo";
    m.files.push_back({".\\bin", "", 0});
    EXPECT_EQ(manifestToJson(m),
              manifestToJson(parseManifest(
                  R"({"texts": {"caption": "Demo"}, "files": [{"folder": ".\\bin"}]})")));
    m.texts.language = "Latin";
    std::vector<Diagnostic> found = checkManifest(m);
    EXPECT_TRUE(found.size() == 1 && found[0].where == "language") << found.size();
    // A key with a line's end, never checked, cannot start a section of another key.
    m.registration = Registration{};
    m.registration->key = "Demo]\r\n[HKEY_LOCAL_MACHINE\\Software\\Run";
    EXPECT_THROW(regFile(registrationValues(m, "C:\\Demo")), RegistrationError);
}
