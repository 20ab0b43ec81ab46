#pragma once

#include "store/store.h"

#include <memory>
#include <optional>
#include <string>

// The store the program counts into: the server that url names (from the command
// line) or else the line store=URL of quillmarch.conf in the configuration folder,
// and without either stock.mdb in the data folder. Throws StoreError for a
// quillmarch.conf that cannot be read or holds a line the program does not know.
std::unique_ptr<Store> chooseStore(const std::string &dataFolder, const std::string &configurationFolder,
                                   const std::optional<std::string> &url);
