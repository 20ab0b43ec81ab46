#pragma once

#include "scanning/record_texts.h"

#include <QFlags>
#include <QString>

#include <array>
#include <optional>

// The main window's three scan boxes: a scanner types a label into the one
// with the focus and ends it with Enter.
enum class ScanBox { Location = 0x1, Item = 0x2, Quantity = 0x4 };
Q_DECLARE_FLAGS(ScanBoxes, ScanBox)
Q_DECLARE_OPERATORS_FOR_FLAGS(ScanBoxes)

enum class LocationPiece { Row, Rack, Shelf };

// What a scan turned out to be.
enum class ScanResult {
    Nothing,       // Enter in an empty box
    LocationPiece, // a row, rack or shelf label
    LocationDone,  // FINLOC
    NewLocation,   // NEWLOC
    ItemDropped,   // ERROR in the item or quantity box
    ItemCode,      // an item's code, on to the quantity box
    Count,         // a quantity label, or Add: a count to store
    NotALocation,  // a label in the location box that is no location label
    NotAQuantity,  // a label in the quantity box that is no quantity label and not ERROR
};

// What the window does with a scan. For a count, all of it holds only once the
// count is stored: a count that cannot be stored changes nothing.
struct ScanOutcome {
    ScanResult result = ScanResult::Nothing;
    std::optional<RecordTexts> count;   // the count to store
    std::optional<LocationPiece> piece; // the piece a location label set
    std::optional<ScanBox> focus;       // the box that takes the focus; none when it stays
    ScanBoxes emptied;                  // the boxes emptied, after the focus has moved
    ScanBoxes selected;                 // the boxes whose text is selected, for the next scan to replace
    QString announcement;               // what a screen reader says of it; empty for nothing
};

// The rules of scanning: what each label means in each box, and the location
// the labels have set so far. A label is known by how it starts, exactly and
// case-sensitively; its value is the rest, kept as scanned.
class ScanRules {
public:
    // Enter in a box that holds label; itemCode is what the item box holds, the
    // code of a count.
    ScanOutcome scan(ScanBox box, const QString &label, const QString &itemCode);

    // Add: a count of the boxes as they stand, a quantity label's prefix included.
    ScanOutcome add(const QString &itemCode, const QString &quantity) const;

    // Sets a piece by hand, as typed.
    void setPiece(LocationPiece piece, const QString &value);
    const QString &piece(LocationPiece piece) const { return m_pieces[std::size_t(piece)]; }

    // Row, rack and shelf joined in this order, whatever order they were set in.
    QString location() const;

    // A piece's label: "Row:A1" as scanned, every other piece and every piece
    // set by hand with a blank after the colon ("Rack: 7", "Row: 12").
    static QString scannedCaption(LocationPiece piece, const QString &value);
    static QString manualCaption(LocationPiece piece, const QString &value);

    // What a screen reader says: of a piece ("Row A"), of a record's texts
    // ("location A72, item PX-100, quantity 5"), and of a count stored as the
    // list's row (from 1).
    static QString pieceAnnouncement(LocationPiece piece, const QString &value);
    static QString spokenRecord(const RecordTexts &record);
    static QString storedAnnouncement(int row, const RecordTexts &count);

private:
    std::array<QString, 3> m_pieces; // by LocationPiece
};
