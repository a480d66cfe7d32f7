#include "FrontDoorCheckMode.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include <tinyxml2.h>

#include "FrontDoorCheck.h"
#include "FrontDoorOffers.h"
#include "ManifestGate.h"

bool AnswerFrontDoorCheck(int* exitCode)
{
    uint32_t challenge = 0;
    std::wstring manifestPath;
    if (!ParseFrontDoorCheck(ArgumentsOfCommandLine(GetCommandLineW()), &challenge, &manifestPath))
        return false;
    if (!manifestPath.empty()) {
        ManifestGate gate;
        tinyxml2::XMLDocument manifest;
        if (gate.Admit(manifestPath.c_str(), &manifest) != ManifestVerdict::Admitted) {
            *exitCode = 2;
            return true;
        }
    }
    *exitCode = int(FrontDoorCheckAnswer(kUpdaterProgramName, FrontDoorArch(sizeof(void*) == 8), challenge));
    return true;
}
