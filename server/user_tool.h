// The command-line account tool, "velto user ...", and "velto addresses":
// administration without the windows.
#pragma once

#include "server/folders.h"

#include <string>
#include <vector>

namespace velto {

// Runs "velto user <args>" on the Velto.usr in the data folder, with the
// code the server uses. Returns the exit status: 0 done, 1 failed, 2 wrong
// usage; every failure says why on standard error.
int RunUserTool(const std::vector<std::string>& args, const Folders& folders);

// Prints the local addresses with the numbers FTPBindToIP takes.
int PrintLocalAddresses();

}  // namespace velto
