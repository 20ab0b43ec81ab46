#include "scanning/scan_rules.h"

#include <algorithm>

namespace {

// Every label a box knows, by the text it starts with.
struct Label {
    ScanBox box;
    QStringView prefix;
    ScanResult result;
    LocationPiece piece = LocationPiece::Row; // of a location piece's label
};

constexpr Label labels[] = {
    {ScanBox::Location, u"ROW:", ScanResult::LocationPiece, LocationPiece::Row},
    {ScanBox::Location, u"SHELF:", ScanResult::LocationPiece, LocationPiece::Shelf},
    {ScanBox::Location, u"RACK:", ScanResult::LocationPiece, LocationPiece::Rack},
    {ScanBox::Location, u"FINLOC", ScanResult::LocationDone},
    {ScanBox::Item, u"NEWLOC", ScanResult::NewLocation},
    {ScanBox::Item, u"ERROR", ScanResult::ItemDropped},
    {ScanBox::Quantity, u"QTY:", ScanResult::Count},
    {ScanBox::Quantity, u"ERROR", ScanResult::ItemDropped},
};

const Label *labelOf(ScanBox box, const QString &text)
{
    const auto found = std::find_if(std::begin(labels), std::end(labels), [&](const Label &label) {
        return label.box == box && text.startsWith(label.prefix);
    });
    return found == std::end(labels) ? nullptr : found;
}

QString nameOf(LocationPiece piece)
{
    switch (piece) {
    case LocationPiece::Row:
        return QStringLiteral("Row");
    case LocationPiece::Rack:
        return QStringLiteral("Rack");
    case LocationPiece::Shelf:
        return QStringLiteral("Shelf");
    }
    return {};
}

// What stands before a piece's value in its label's caption.
QString captionPrefix(LocationPiece piece)
{
    return nameOf(piece) + QStringLiteral(": ");
}

// A text as a screen reader is to say it: an empty one by name, as it would go
// unheard; a long one cut short, so that a stray paste does not hold the
// operator for minutes. (Announcements join their parts with commas, which are
// heard as pauses; a screen reader reads a colon out as a word.)
QString spoken(const QString &text)
{
    constexpr qsizetype spokenCharacters = 100;
    if (text.isEmpty())
        return QStringLiteral("empty");
    if (text.size() <= spokenCharacters)
        return text;
    const qsizetype end = text.at(spokenCharacters - 1).isHighSurrogate() ? spokenCharacters - 1 : spokenCharacters;
    return text.left(end) + QChar(0x2026);
}

// The counted item is done with: on to the next item at the same location.
ScanOutcome nextItem(ScanResult result)
{
    ScanOutcome outcome;
    outcome.result = result;
    outcome.focus = ScanBox::Item;
    outcome.emptied = ScanBox::Item | ScanBox::Quantity;
    if (result == ScanResult::ItemDropped)
        outcome.announcement = QStringLiteral("Item dropped, nothing stored");
    return outcome;
}

} // namespace

ScanOutcome ScanRules::scan(ScanBox box, const QString &text, const QString &itemCode)
{
    const Label *label = labelOf(box, text);
    const QString value = label ? text.mid(label->prefix.size()) : QString();
    ScanOutcome outcome;
    switch (box) {
    case ScanBox::Location:
        // Whatever it held, the location box is ready for the next label.
        outcome.emptied = ScanBox::Location;
        if (!label) {
            outcome.result = text.isEmpty() ? ScanResult::Nothing : ScanResult::NotALocation;
            if (!text.isEmpty())
                outcome.announcement = QStringLiteral("Not taken, no location label");
        } else if (label->result == ScanResult::LocationPiece) {
            outcome.result = ScanResult::LocationPiece;
            outcome.piece = label->piece;
            setPiece(label->piece, value);
            outcome.announcement = pieceAnnouncement(label->piece, value);
        } else {
            outcome.result = ScanResult::LocationDone;
            outcome.focus = ScanBox::Item;
            outcome.announcement = QStringLiteral("Location complete, ") + spoken(location());
        }
        return outcome;
    case ScanBox::Item:
        if (!label) {
            // The text stays: it is the code the next quantity label stores.
            outcome.result = text.isEmpty() ? ScanResult::Nothing : ScanResult::ItemCode;
            outcome.focus = ScanBox::Quantity;
            if (!text.isEmpty())
                outcome.announcement = QStringLiteral("Item ") + spoken(text);
        } else if (label->result == ScanResult::NewLocation) {
            outcome.result = ScanResult::NewLocation;
            outcome.focus = ScanBox::Location;
            outcome.emptied = ScanBox::Item;
            outcome.announcement = QStringLiteral("New location");
        } else {
            outcome = nextItem(ScanResult::ItemDropped);
        }
        return outcome;
    case ScanBox::Quantity:
        if (!label) {
            // The text stays in the box for the operator to correct, or for the
            // next scan to replace.
            outcome.result = text.isEmpty() ? ScanResult::Nothing : ScanResult::NotAQuantity;
            if (!text.isEmpty()) {
                outcome.selected = ScanBox::Quantity;
                outcome.announcement = QStringLiteral("Not taken, no quantity label");
            }
            return outcome;
        }
        if (label->result == ScanResult::Count)
            return add(itemCode, value);
        return nextItem(ScanResult::ItemDropped);
    }
    return outcome;
}

ScanOutcome ScanRules::add(const QString &itemCode, const QString &quantity) const
{
    ScanOutcome outcome = nextItem(ScanResult::Count);
    outcome.count = RecordTexts{location(), itemCode, quantity};
    return outcome;
}

void ScanRules::setPiece(LocationPiece piece, const QString &value)
{
    m_pieces[std::size_t(piece)] = value;
}

QString ScanRules::location() const
{
    return piece(LocationPiece::Row) + piece(LocationPiece::Rack) + piece(LocationPiece::Shelf);
}

QString ScanRules::scannedCaption(LocationPiece piece, const QString &value)
{
    // A scanned row shows without the blank.
    if (piece == LocationPiece::Row)
        return QStringLiteral("Row:") + value;
    return captionPrefix(piece) + value;
}

QString ScanRules::manualCaption(LocationPiece piece, const QString &value)
{
    return captionPrefix(piece) + value;
}

QString ScanRules::pieceAnnouncement(LocationPiece piece, const QString &value)
{
    return nameOf(piece) + ' ' + spoken(value);
}

QString ScanRules::spokenRecord(const RecordTexts &record)
{
    return QStringLiteral("location %1, item %2, quantity %3")
        .arg(spoken(record.location), spoken(record.stockCode), spoken(record.quantity));
}

QString ScanRules::storedAnnouncement(int row, const RecordTexts &count)
{
    return QStringLiteral("Stored row %1, ").arg(row) + spokenRecord(count);
}
