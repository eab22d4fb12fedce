#include "support.h"

#include <filesystem>

namespace testing_support {

varnel::Bytes bytesOf(std::initializer_list<Piece> pieces) {
    varnel::Bytes out;
    for (const Piece& p : pieces)
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    return out;
}

varnel::Bytes fakeStub(uint32_t locator) {
    // An MZ header whose e_lfanew (at 0x3C) points at the PE signature at 0x40.
    varnel::Bytes stub = bytesOf({"MZ", 0x90, 0, 3, 0});
    stub.resize(0x3C);
    varnel::putU32(stub, 0x40);
    varnel::append(stub, bytesOf({"PE", 0, 0, "stub code ", "wwgT)H"}));
    varnel::putU32(stub, locator);
    for (int i = 0; i < 21; ++i)
        stub.push_back(uint8_t(i * 7));
    return stub;
}

varnel::Bytes payloadOf(const varnel::Bytes& executable) {
    size_t start = varnel::readLocator(executable, *varnel::findLocatorField(executable));
    return varnel::Bytes(executable.begin() + long(start), executable.end());
}

std::string freshDir(const std::string& name) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("varnel-tests-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

} // namespace testing_support
