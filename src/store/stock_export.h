#pragma once

#include "store/store.h"

#include <string>

// Writes every record of the store to a CSV file (RFC 4180: a header line, fields
// quoted where they must be, lines ended by CR LF; UTF-8), in ascending id. The
// file appears whole or not at all; throws StoreError when it cannot be written.
void exportCsv(Store &store, const std::string &path);
