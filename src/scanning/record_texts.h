#pragma once

#include <QString>

// A stock record's three texts as the windows show, scan and edit them.
struct RecordTexts {
    QString location;
    QString stockCode;
    QString quantity;

    bool operator==(const RecordTexts &) const = default;
};
