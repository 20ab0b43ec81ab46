#include "about/version.h"

QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("Version: %1.%2 Beta - Build %3").arg(major).arg(minor).arg(revision);
}
