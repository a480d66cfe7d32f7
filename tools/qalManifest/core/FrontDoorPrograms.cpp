#include "FrontDoorPrograms.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FrontDoorOffers.h"

namespace {

const uint16_t kMachineI386 = 0x14c;
const uint16_t kMachineAmd64 = 0x8664;

uint32_t LittleEndian(const std::string& bytes, size_t at, size_t width)
{
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

const char* ArchOfMachine(uint32_t machine)
{
    return machine == kMachineI386 ? kFrontDoorArch32 : machine == kMachineAmd64 ? kFrontDoorArch64 : nullptr;
}

}  // namespace

std::string FrontDoorProgramRefusal(const std::string& bytes, const char* arch)
{
    // e_lfanew, the offset of the PE signature, sits at 0x3C of the DOS header.
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return "not a Windows program (no MZ header)";
    const uint32_t at = LittleEndian(bytes, 0x3C, 4);
    if (at > bytes.size() || bytes.size() - at < 6 || bytes.compare(at, 4, std::string("PE\0\0", 4)) != 0)
        return "not a Windows program (no PE header)";
    const uint32_t machine = LittleEndian(bytes, at + 4, 2);
    const char* built = ArchOfMachine(machine);
    if (built && std::strcmp(built, arch) == 0)
        return std::string();
    char shown[8];
    std::snprintf(shown, sizeof shown, "0x%x", unsigned(machine));
    return std::string("a program for ") + (built ? built : std::string("machine ") + shown) + ", not for " + arch +
           (built ? " (are the architecture directories swapped?)" : "");
}

bool ReadFrontDoorVersionFile(const std::string& content, std::string* version)
{
    std::string line = content;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    if (line.find('\0') != std::string::npos || !IsWellFormedFrontDoorVersion(line.c_str()))
        return false;
    *version = line;
    return true;
}
