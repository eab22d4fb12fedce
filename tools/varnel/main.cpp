// varnel: packs, inspects and checks uninstall payloads.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "fileio.h"
#include "varnel.h"

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "0"
#endif

namespace {

using namespace varnel;
namespace fs = std::filesystem;

enum { kExitOk = 0, kExitError = 1, kExitUsage = 2 };

struct Command {
    const char* name;
    const char* synopsis;
    const char* options; // the options it takes, each between spaces
    const char* help;
};

const Command kCommands[] = {
    {"pack", "varnel pack MANIFEST.json -o OUT.exe [--stub PATH]", " -o --stub ",
     "Checks the manifest, builds the payload and writes a copy of the stub with it appended.\n"
     "Errors stop it and nothing is written; warnings are printed and packing goes on.\n"
     "OUT.exe is written whole or not at all, and never over the stub or the manifest.\n"
     "The stub is --stub, else $VARNEL_STUB, else ../share/varnel/uninst.exe from the\n"
     "folder that holds varnel. MANIFEST.json may be - (standard input).\n"},
    {"dump", "varnel dump UNINSTALLER.exe [-o MANIFEST.json] [--code-page N]", " -o --code-page ",
     "Prints an uninstaller's payload as a manifest; packing it gives the same payload.\n"
     "Texts are converted from code page N (default 1252). UNINSTALLER.exe may be - and\n"
     "at most 64 MiB are read from it.\n"},
    {"check", "varnel check MANIFEST.json", " ",
     "Reports every error (what cannot be packed, or would remove what it should not) and\n"
     "warning (what the uninstaller will pass over), each with its place in the manifest,\n"
     "or one line \"ok: ...\". MANIFEST.json may be -.\n"},
    {"scan", "varnel scan DIR [-o FILES.json] [--code-page N]", " -o --code-page ",
     "Lists a staged product folder as a manifest's file list, each folder before what\n"
     "it holds. Symbolic links are not followed; names must fit code page N (default 1252).\n"},
    {"init", "varnel init DIR [-o MANIFEST.json] [--product NAME] [--language L] [--code-page N]",
     " -o --product --language --code-page ",
     "Writes a starting manifest for a staged product folder: its product name (default:\n"
     "the folder's name), language (default English) with its code page, options, and the\n"
     "scanned files, with empty groups, registry and patterns to fill in. It never\n"
     "overwrites a file.\n"},
    {"texts", "varnel texts [LANGUAGE]", " ",
     "Prints a built-in language's texts as a manifest to start from; without a language,\n"
     "lists the languages and their code pages.\n"},
};

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void printUsage(std::ostream& out) {
    out << "usage:\n";
    for (const Command& c : kCommands)
        out << "  " << c.synopsis << "\n";
    out << "  varnel --version\n"
           "  varnel COMMAND --help\n"
           "Options take their value as --opt VALUE or --opt=VALUE. Exit codes: 0 done\n"
           "(warnings allowed), 1 errors, 2 wrong usage.\n";
}

// Shows control characters of names and texts as \xNN, so that nothing a
// manifest or a payload holds can drive the terminal.
std::string printable(const std::string& s) {
    std::string out;
    for (char c : s) {
        uint8_t b = uint8_t(c);
        if (b < 0x20 || b == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out;
}

struct UsageError {
    std::string problem;
};

struct Arguments {
    const Command* command = nullptr;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool help = false;

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::string get(const std::string& option, const std::string& otherwise = "") const {
        auto it = options.find(option);
        return it == options.end() ? otherwise : it->second;
    }
};

Arguments parseArguments(const Command& command, int argc, char** argv) {
    Arguments a;
    a.command = &command;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-') {
            a.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            a.help = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name == "--output")
            name = "-o";
        static const char* const known[] = {"-o", "--stub", "--code-page", "--product",
                                            "--language"};
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            throw UsageError{"unknown option " + printable(name)};
        if (std::string(command.options).find(" " + name + " ") == std::string::npos)
            throw UsageError{std::string(command.name) + " does not take " + name};
        if (!value) {
            if (i + 1 >= argc)
                throw UsageError{name + " needs a value"};
            value = argv[++i];
        }
        if (a.options.count(name))
            throw UsageError{name + " is given twice"};
        a.options[name] = *value;
    }
    return a;
}

unsigned codePageOption(const Arguments& a, unsigned otherwise) {
    if (!a.has("--code-page"))
        return otherwise;
    std::string text = a.get("--code-page");
    char* end = nullptr;
    unsigned long cp = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || cp == 0 || cp > 65535)
        throw UsageError{"--code-page needs a code page number"};
    if (!isSupportedCodePage(unsigned(cp)))
        throw UsageError{"code page " + text +
                         " is not supported (1250 to 1258, 874, 932, 936, 949, 950, 437, 850, "
                         "852, 866)"};
    return unsigned(cp);
}

void expectPositional(const Arguments& a, size_t count, const char* what) {
    if (a.positional.size() != count)
        throw UsageError{std::string(a.command->name) + " needs " + what};
}

// Where messages come from: the file, and the tool for what has no file.
void report(const std::string& file, const std::vector<Diagnostic>& diagnostics) {
    for (const Diagnostic& d : diagnostics)
        std::cerr << printable(inputName(file)) << ": " << printable(formatDiagnostic(d)) << "\n";
}

void reportManifestError(const std::string& file, const ManifestError& e) {
    std::string name = printable(inputName(file));
    if (e.line) {
        std::cerr << name << ":" << e.line << ":" << e.column << ": error: " << e.problem << "\n";
        return;
    }
    for (const auto& [where, problem] : e.all)
        std::cerr << name
                  << ": error: " << printable(where.empty() ? problem : where + ": " + problem)
                  << "\n";
}

// The manifest, or nothing once its problems are reported.
std::optional<Manifest> loadManifest(const std::string& path) {
    try {
        return readManifestFile(path);
    } catch (const ManifestError& e) {
        reportManifestError(path, e);
        return std::nullopt;
    }
}

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The folder that holds the running varnel, or nothing.
std::optional<fs::path> programFolder(const char* argv0) {
    std::error_code ec;
#ifdef _WIN32
    char buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer)
        return fs::path(std::string(buffer, n)).parent_path();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path();
#endif
    // Only a path with a folder in it says where varnel is; a bare name
    // would point at the current folder.
    fs::path given(argv0);
    if (given.has_parent_path())
        return fs::absolute(given, ec).parent_path();
    return std::nullopt;
}

fs::path installedStub(const char* argv0) {
    std::optional<fs::path> folder = programFolder(argv0);
    return folder ? (*folder / ".." / "share" / "varnel" / "uninst.exe").lexically_normal()
                  : fs::path();
}

// The stub, in this order: --stub, $VARNEL_STUB, the installed data folder.
std::string findStub(const Arguments* a, const char* argv0, std::string* tried = nullptr) {
    if (a && a->has("--stub"))
        return a->get("--stub");
    if (const char* env = std::getenv("VARNEL_STUB"); env && *env)
        return env;
    fs::path installed = installedStub(argv0);
    if (tried)
        *tried = installed.string();
    std::error_code ec;
    return !installed.empty() && fs::is_regular_file(installed, ec) ? installed.string() : "";
}

int pack(const Arguments& a, const char* argv0) {
    expectPositional(a, 1, "one manifest");
    std::string manifestPath = a.positional[0];
    std::string out = a.get("-o");
    if (out.empty())
        throw UsageError{"pack needs -o OUT.exe"};
    if (out == "-")
        throw UsageError{"pack writes an executable: give -o a file name, not -"};
    std::optional<Manifest> loaded = loadManifest(manifestPath);
    if (!loaded)
        return kExitError;
    const Manifest& manifest = *loaded;
    std::vector<Diagnostic> diagnostics = checkManifest(manifest);
    report(manifestPath, diagnostics);
    if (hasErrors(diagnostics))
        return kExitError;
    std::string tried;
    std::string stubPath = findStub(&a, argv0, &tried);
    if (stubPath.empty()) {
        std::cerr << "varnel: no stub found" << (tried.empty() ? "" : " at " + tried)
                  << "; give it with --stub PATH or the environment variable VARNEL_STUB\n";
        return kExitError;
    }
    for (const std::string& input : {stubPath, manifestPath})
        if (sameFile(out, input)) {
            std::cerr << "varnel: " << out << " is "
                      << (input == stubPath ? "the stub" : "the manifest")
                      << "; give another output\n";
            return kExitError;
        }
    Bytes stub = readInput(stubPath);
    if (std::optional<std::string> problem = stubProblem(stub)) {
        std::cerr << "varnel: " << stubPath << ": " << *problem << "\n";
        return kExitError;
    }
    Bytes payload = buildPayload(manifest);
    writeOutput(out, attachPayload(stub, payload), true);
    std::cerr << "varnel: " << out << ": " << payload.size() << " payload bytes at offset "
              << stub.size() << "\n";
    return kExitOk;
}

// The manifest text with DEL and the C1 controls, which JSON leaves as they
// are, escaped as well.
std::string escapeControls(const std::string& json) {
    std::string out;
    for (size_t i = 0; i < json.size(); ++i) {
        uint8_t b = uint8_t(json[i]);
        uint8_t next = i + 1 < json.size() ? uint8_t(json[i + 1]) : 0;
        if (b == 0x7F || (b == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", b == 0x7F ? 0x7F : next);
            out += buffer;
            i += b == 0xC2 ? 1 : 0;
        } else {
            out += json[i];
        }
    }
    return out;
}

int dump(const Arguments& a) {
    expectPositional(a, 1, "one uninstaller");
    unsigned codePage = codePageOption(a, 1252);
    const std::string& input = a.positional[0];
    std::string out = a.get("-o", "-");
    if (sameFile(out, input)) {
        std::cerr << "varnel: " << out << " is the uninstaller itself; give another output\n";
        return kExitError;
    }
    Bytes executable = readInput(input);
    SplitPayload split;
    Manifest manifest;
    try {
        split = splitPayload(executable);
        manifest = manifestFromPayload(split, codePage);
    } catch (const PayloadDamage& damage) {
        std::cerr << "varnel: " << printable(inputName(input))
                  << ": damaged payload: " << damage.what() << "\n";
        return kExitError;
    }
    if (split.end < executable.size())
        std::cerr << "varnel: note: " << executable.size() - split.end
                  << " bytes follow the payload's RT_END (a signature, say); the uninstaller "
                     "does not read them\n";
    writeOutput(out, textBytes(escapeControls(formatManifest(manifest))));
    return kExitOk;
}

int check(const Arguments& a) {
    expectPositional(a, 1, "one manifest");
    const std::string& path = a.positional[0];
    std::optional<Manifest> loaded = loadManifest(path);
    if (!loaded)
        return kExitError;
    const Manifest& manifest = *loaded;
    std::vector<Diagnostic> diagnostics = checkManifest(manifest);
    report(path, diagnostics);
    if (hasErrors(diagnostics))
        return kExitError;
    std::cout << printable(inputName(path)) << ": ok: " << summarizeManifest(manifest)
              << (diagnostics.empty() ? ""
                                      : " (" + std::to_string(diagnostics.size()) +
                                            (diagnostics.size() == 1 ? " warning)" : " warnings)"))
              << "\n";
    return kExitOk;
}

// A scan, its warnings and errors printed; nothing when it has errors.
std::optional<ScanReport> scanReported(const std::string& folder, unsigned codePage) {
    ScanReport report = scanTree(folder, codePage);
    for (const std::string& w : report.warnings)
        std::cerr << "varnel: warning: " << printable(w) << "\n";
    for (const std::string& e : report.errors)
        std::cerr << "varnel: error: " << printable(e) << "\n";
    if (!report.errors.empty())
        return std::nullopt;
    return report;
}

int scan(const Arguments& a) {
    expectPositional(a, 1, "one folder");
    std::optional<ScanReport> report = scanReported(a.positional[0], codePageOption(a, 1252));
    if (!report)
        return kExitError;
    Manifest manifest;
    manifest.files = report->files;
    Json out = Json::object();
    out["files"] = manifest.files.empty() ? Json::array() : manifestToJson(manifest)["files"];
    writeOutput(a.get("-o", "-"), textBytes(formatJsonDocument(out)));
    return kExitOk;
}

int init(const Arguments& a) {
    expectPositional(a, 1, "one folder");
    std::string folder = a.positional[0];
    std::optional<std::string> language = canonicalLanguageName(a.get("--language", "English"));
    if (!language)
        throw UsageError{"unknown language " + printable(a.get("--language"))};
    unsigned codePage = codePageOption(a, *languageCodePage(*language));
    std::string out = a.get("-o", "-");
    std::error_code ec;
    if (out != "-" && fs::exists(out, ec)) {
        std::cerr << "varnel: " << out << " exists; init never overwrites a manifest\n";
        return kExitError;
    }
    std::string product = a.get("--product");
    if (product.empty())
        product = fs::absolute(fs::path(folder), ec).lexically_normal().filename().string();
    if (product.empty())
        product =
            fs::absolute(fs::path(folder), ec).lexically_normal().parent_path().filename().string();
    std::optional<ScanReport> report = scanReported(folder, codePage);
    if (!report)
        return kExitError;
    Manifest files;
    files.files = report->files;
    Json json = Json::object();
    json["codePage"] = codePage;
    json["language"] = *language;
    json["texts"] = Json::object({{"caption", product}});
    json["options"] = Json::object({{"wait", false}, {"themed", true}});
    json["files"] = files.files.empty() ? Json::array() : manifestToJson(files)["files"];
    json["groups"] = Json::array();
    json["registry"] = Json::array();
    json["patterns"] = Json::array();
    writeOutput(out, textBytes(formatJsonDocument(json)));
    if (out != "-")
        std::cerr << "varnel: " << out << ": " << summarizeManifest(files)
                  << "; add groups, registry and patterns, then run varnel check\n";
    return kExitOk;
}

int texts(const Arguments& a) {
    if (a.positional.size() > 1)
        throw UsageError{"texts takes at most one language"};
    if (a.positional.empty()) {
        for (const std::string& name : languageNames())
            std::cout << name << " (code page " << *languageCodePage(name) << ")\n";
        return kExitOk;
    }
    std::optional<std::string> language = canonicalLanguageName(a.positional[0]);
    if (!language)
        throw UsageError{"unknown language " + printable(a.positional[0]) +
                         "; varnel texts lists them"};
    Json json = Json::object();
    json["codePage"] = *languageCodePage(*language);
    json["language"] = *language;
    Json table = Json::object();
    const auto& defaults = *languageTexts(*language);
    for (unsigned i = 0; i < TEXT_COUNT; ++i)
        table[textKey(i)] = defaults[i];
    json["texts"] = table;
    std::cout << formatJsonDocument(json);
    return kExitOk;
}

int version(const char* argv0) {
    std::cout << "varnel " << VARNEL_VERSION << "\n"
              << "payload format: marker \"" << PAYLOAD_MARKER
              << "\" and a 32-bit offset; records with 8-byte headers: strings 0x1234, files "
                 "0x1235, groups 0x1236, registry 0x1237, patterns 0x1239, options 0x123A, "
                 "end 0x7F7F\n";
    std::string tried;
    std::string stub = findStub(nullptr, argv0, &tried);
    std::error_code ec;
    uintmax_t size = stub.empty() ? 0 : fs::file_size(stub, ec);
    if (stub.empty() || ec)
        std::cout << "stub: none found" << (tried.empty() ? "" : " at " + tried)
                  << " (give --stub PATH or VARNEL_STUB)\n";
    else
        std::cout << "stub: " << stub << " (" << size << " bytes)\n";
    return kExitOk;
}

int usageError(const std::string& problem, const Command* command) {
    std::cerr << "varnel: " << problem << " (see: varnel " << (command ? command->name : "")
              << (command ? " " : "") << "--help)\n";
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usageError("no command", nullptr);
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        printUsage(std::cout);
        return kExitOk;
    }
    if (name == "--version")
        return version(argv[0]);
    const Command* command = findCommand(name);
    if (!command)
        return usageError("unknown command " + printable(name), nullptr);
    try {
        Arguments a = parseArguments(*command, argc, argv);
        if (a.help) {
            std::cout << "usage: " << command->synopsis << "\n" << command->help;
            return kExitOk;
        }
        switch (command - kCommands) {
        case 0:
            return pack(a, argv[0]);
        case 1:
            return dump(a);
        case 2:
            return check(a);
        case 3:
            return scan(a);
        case 4:
            return init(a);
        default:
            return texts(a);
        }
    } catch (const UsageError& e) {
        return usageError(e.problem, command);
    } catch (const std::exception& e) {
        std::cerr << "varnel: " << printable(e.what()) << "\n";
        return kExitError;
    }
}
