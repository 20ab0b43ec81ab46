#pragma once

#include "about/program_version.h"

#include <QString>

// "Version: 1.0 Beta - Build 1" for version 1.0.1: how the About box and
// --version give the program's version.
QString versionText(int major = versionMajor, int minor = versionMinor, int revision = versionRevision);
