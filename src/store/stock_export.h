#pragma once

#include "store/store.h"

#include <cstdio>
#include <string>

// Writes every record of the store as CSV (RFC 4180: a header line, fields quoted
// where they must be, lines ended by CR LF; UTF-8), in ascending id, each text
// exactly as stored. Throws StoreError when it cannot be written.
//
// Into the file at path, whole or not at all: written beside it under a name of its
// own, then put in its place. A link is followed to the file it names; a name that
// stands for anything but a regular file (a folder, a named pipe, a device, a link
// to one or to nothing) is refused before anything is written.
void exportCsv(Store &store, const std::string &path);
// Onto standard output, for a pipe: as far as it goes when it fails.
void exportCsv(Store &store, std::FILE *standardOutput);
