// The tool's commands over the platform glue; answers the exit status.
#pragma once

#include <string>
#include <vector>

// args without the program name, UTF-8.
int RunManifestTool(const std::vector<std::string>& args);
