// A product's entry in Programs and Features, from the manifest's register
// section: the key whose removal `pack` adds to the payload, and the values
// that the installer writes there, as a .reg file or as JSON.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "manifest.h"

namespace varnel {

// The options of QuietUninstallString, after the quoted uninstaller. They must
// remove everything without a window, the uninstaller and its folder included.
// "/Q" does that today; "/S" and "/X" leave the uninstaller behind. The one
// place to change when the uninstaller's unattended options change.
const char* quietUninstallOptions();

// The name that Programs and Features shows for the product: the register
// section's displayName, else the caption; empty when there is neither.
std::string shownName(const Manifest& m);

// "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" and the key.
std::string uninstallKeyPath(const Registration& registration);
// The entry that `pack` adds to the payload's registry list: the key's removal,
// under HKLM or HKCU. The uninstaller, a 32-bit program, removes it from the
// 32-bit registry view, which is where the installer must write it.
RegistryItem uninstallEntry(const Registration& registration);

// One value of the key. Strings are UTF-8; an expandable string holds
// environment variables such as %ProgramFiles%.
struct RegistryValue {
    enum class Type { String, ExpandString, Dword };
    std::string name;
    Type type = Type::String;
    std::string text;
    uint32_t number = 0;
};

// Everything the installer writes: the root, the key below it, its values.
struct RegistrationValues {
    uint32_t root = ROOT_HKLM;
    std::string key;
    std::vector<RegistryValue> values;
};

// What the registration cannot be made from: no register section, an
// installation folder that is neither a full path nor led by a folder macro,
// a macro with no environment variable on the target system, an uninstaller
// name that is not a plain file name.
class RegistrationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The values of the manifest's registration for a product installed in
// `installDir` ("C:\\Program Files\\Product", or "#Program Files#\\Product":
// each folder macro becomes the environment variable that names the folder on
// the target system, and the values that hold it are expandable), with the
// uninstaller saved there as `uninstallerName`: DisplayName (the caption when
// none is given), the texts given, DisplayIcon (the uninstaller's own when none
// is given), InstallLocation, UninstallString (the quoted uninstaller),
// QuietUninstallString (the same and quietUninstallOptions()), EstimatedSize
// when given, NoModify and NoRepair (1). Throws RegistrationError.
RegistrationValues registrationValues(const Manifest& manifest, const std::string& installDir,
                                      const std::string& uninstallerName = "uninst.exe");

// A .reg file of "Windows Registry Editor Version 5.00": UTF-16LE with a byte
// order mark and CRLF line ends, as regedit and reg import read it. Throws
// RegistrationError for a key that holds a control character.
Bytes regFile(const RegistrationValues& registration);
// The same as JSON: {"note", "root", "key", "view": 32, "values": [{"name",
// "type", "data"}]}, for installers that write the registry themselves.
std::string registrationJson(const RegistrationValues& registration);

} // namespace varnel
