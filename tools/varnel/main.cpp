// varnel: packs, inspects and checks uninstall payloads.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

using namespace varnel;

const char* const kUsage =
    "usage:\n"
    "  varnel pack MANIFEST.json -o OUT.exe [--stub PATH]\n"
    "      builds the payload and writes a copy of the stub with it appended\n"
    "  varnel dump UNINSTALLER.exe [--code-page N] [-o MANIFEST.json]\n"
    "      prints an uninstaller's payload as a manifest\n"
    "  varnel check MANIFEST.json\n"
    "      reports what cannot be packed (errors) and what the uninstaller will\n"
    "      pass over (warnings)\n"
    "  varnel scan DIR [-o FILES.json]\n"
    "      lists a staged product folder as a manifest's file list\n"
    "The stub is --stub, else $VARNEL_STUB, else uninst.exe beside varnel.\n"
    "Exit codes: 0 done, 1 errors, 2 wrong usage.\n";

enum { kExitOk = 0, kExitError = 1, kExitUsage = 2 };

struct Arguments {
    std::vector<std::string> positional;
    std::string output;
    std::string stub;
    unsigned codePage = 1252;
};

int usage(const std::string& problem) {
    std::cerr << "varnel: " << problem << "\n" << kUsage;
    return kExitUsage;
}

bool parseArguments(int argc, char** argv, Arguments& a, std::string& problem) {
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "-o" || arg == "--output") {
            if (!value(a.output))
                return false;
        } else if (arg == "--stub") {
            if (!value(a.stub))
                return false;
        } else if (arg == "--code-page") {
            std::string text;
            if (!value(text))
                return false;
            char* end = nullptr;
            unsigned long cp = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end || cp == 0 || cp > 65535) {
                problem = "--code-page needs a code page number";
                return false;
            }
            a.codePage = unsigned(cp);
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return false;
        } else {
            a.positional.push_back(arg);
        }
    }
    return true;
}

void report(const std::vector<Diagnostic>& diagnostics) {
    for (const Diagnostic& d : diagnostics)
        std::cerr << formatDiagnostic(d) << "\n";
}

bool writeText(const std::string& path, const std::string& text) {
    if (path.empty() || path == "-") {
        std::cout << text;
        return bool(std::cout);
    }
    writeFileBytes(path, Bytes(text.begin(), text.end()));
    return true;
}

std::string defaultStub(const char* argv0) {
    if (const char* env = std::getenv("VARNEL_STUB"); env && *env)
        return env;
    return (std::filesystem::path(argv0).parent_path() / "uninst.exe").string();
}

int pack(const Arguments& a, const char* argv0) {
    if (a.positional.size() != 1 || a.output.empty())
        return usage("pack needs one manifest and -o OUT.exe");
    Manifest manifest = readManifestFile(a.positional[0]);
    std::vector<Diagnostic> diagnostics = checkManifest(manifest);
    report(diagnostics);
    if (hasErrors(diagnostics))
        return kExitError;
    std::string stubPath = a.stub.empty() ? defaultStub(argv0) : a.stub;
    Bytes stub = readFileBytes(stubPath);
    Bytes payload = buildPayload(manifest);
    Bytes out = attachPayload(stub, payload);
    writeFileBytes(a.output, out);
    std::cerr << "varnel: " << a.output << ": " << payload.size() << " payload bytes at offset "
              << stub.size() << "\n";
    return kExitOk;
}

int dump(const Arguments& a) {
    if (a.positional.size() != 1)
        return usage("dump needs one uninstaller");
    if (!isSupportedCodePage(a.codePage))
        return usage("code page " + std::to_string(a.codePage) + " is not supported");
    Bytes executable = readFileBytes(a.positional[0]);
    SplitPayload split;
    Manifest manifest;
    try {
        split = splitPayload(executable);
        manifest = manifestFromPayload(split, a.codePage);
    } catch (const PayloadDamage& damage) {
        std::cerr << "varnel: " << a.positional[0] << ": damaged payload: " << damage.what()
                  << "\n";
        return kExitError;
    }
    if (split.end < executable.size())
        std::cerr << "varnel: note: " << executable.size() - split.end
                  << " bytes follow the payload's RT_END (a signature, say); the uninstaller "
                     "does not read them\n";
    return writeText(a.output, formatManifest(manifest)) ? kExitOk : kExitError;
}

int check(const Arguments& a) {
    if (a.positional.size() != 1)
        return usage("check needs one manifest");
    Manifest manifest = readManifestFile(a.positional[0]);
    std::vector<Diagnostic> diagnostics = checkManifest(manifest);
    report(diagnostics);
    return hasErrors(diagnostics) ? kExitError : kExitOk;
}

int scan(const Arguments& a) {
    if (a.positional.size() != 1)
        return usage("scan needs one folder");
    Manifest manifest;
    manifest.files = scanDirectory(a.positional[0]);
    Json out = Json::object();
    out["files"] = manifestToJson(manifest)["files"];
    if (manifest.files.empty())
        out["files"] = Json::array();
    return writeText(a.output, formatJsonDocument(out)) ? kExitOk : kExitError;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage("no command");
    std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    Arguments a;
    std::string problem;
    if (!parseArguments(argc, argv, a, problem))
        return usage(problem);
    try {
        if (command == "pack")
            return pack(a, argv[0]);
        if (command == "dump")
            return dump(a);
        if (command == "check")
            return check(a);
        if (command == "scan")
            return scan(a);
    } catch (const PackError& e) {
        report(e.errors);
        return kExitError;
    } catch (const std::exception& e) {
        std::cerr << "varnel: " << e.what() << "\n";
        return kExitError;
    }
    return usage("unknown command " + command);
}
