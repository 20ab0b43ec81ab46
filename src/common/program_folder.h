#pragma once

#include <string>

// The folder of the running program as the file system names it, byte for byte,
// whatever its encoding. Throws StoreError when it cannot be found: the program
// keeps its stock beside itself and nowhere else.
std::string ProgramFolder();
