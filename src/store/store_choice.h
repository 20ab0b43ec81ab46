#pragma once

#include "store/store.h"

#include <memory>
#include <optional>
#include <string>

// The store the program counts into, or an export reads: the server that url
// names (from the command line) or else the line store=URL of quillmarch.conf in
// the configuration folder, and without either stock.mdb in the data folder,
// where a team station keeps its journal too. Throws StoreError for a
// quillmarch.conf that cannot be read or holds a line the program does not know.
std::unique_ptr<Store> chooseStore(const std::string &dataFolder, const std::string &configurationFolder,
                                   const std::optional<std::string> &url, Access access = Access::Count);
