#include "scanning/scan_rules.h"

#include <QTest>

namespace {

struct Scan {
    ScanBox box;
    QString label;
};

// The outcome as a test states it, every field named.
struct Expected {
    ScanResult result = ScanResult::Nothing;
    std::optional<ScanBox> focus;
    ScanBoxes emptied;
    std::optional<RecordTexts> count;
    QString announcement;
    ScanBoxes selected = {};
};

constexpr ScanBox location = ScanBox::Location, item = ScanBox::Item, quantity = ScanBox::Quantity;
const ScanBoxes itemAndQuantity = ScanBox::Item | ScanBox::Quantity;

} // namespace

class TestScanRules : public QObject {
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
    void byHand_addKeepsTheQuantityBoxWhole_piecesAsTyped();
};

void TestScanRules::scan_data()
{
    QTest::addColumn<QStringList>("before"); // labels scanned first in the location box
    QTest::addColumn<Scan>("scan");
    QTest::addColumn<QString>("itemCode"); // what the item box holds
    QTest::addColumn<Expected>("expected");
    QTest::addColumn<QString>("location"); // the location afterwards

    // Location box: a piece is set and announced; the box is emptied whatever it held.
    const auto piece = [](const QString &announcement) {
        return Expected{ScanResult::LocationPiece, {}, location, {}, announcement};
    };
    const Expected notALocation{ScanResult::NotALocation, {}, location, {}, "Not taken, no location label"};
    const auto done = [](const QString &announcement) {
        return Expected{ScanResult::LocationDone, item, location, {}, announcement};
    };
    const QStringList none;
    QTest::newRow("bare row label") << QStringList{"ROW:A"} << Scan{location, "ROW:"} << "" << piece("Row empty") << "";
    QTest::newRow("never trimmed") << none << Scan{location, "SHELF: 4 "} << "" << piece("Shelf  4 ") << " 4 ";
    QTest::newRow("piece replaced") << QStringList{"ROW:A", "RACK:1"} << Scan{location, "ROW:B"} << "" << piece("Row B")
                                    << "B1";
    QTest::newRow("joined row, rack, shelf")
        << QStringList{"SHELF:2", "ROW:A"} << Scan{location, "RACK:03"} << "" << piece("Rack 03") << "A032";
    QTest::newRow("lower case") << none << Scan{location, "row:A1"} << "" << notALocation << "";
    QTest::newRow("leading blank") << none << Scan{location, " ROW:A1"} << "" << notALocation << "";
    QTest::newRow("quantity label") << none << Scan{location, "QTY:5"} << "" << notALocation << "";
    QTest::newRow("empty location box") << none << Scan{location, ""} << ""
                                        << Expected{ScanResult::Nothing, {}, location, {}, {}} << "";
    QTest::newRow("FINLOC") << QStringList{"ROW:A", "RACK:3"} << Scan{location, "FINLOC"} << ""
                            << done("Location complete, A3") << "A3";
    QTest::newRow("FINLOCATION") << none << Scan{location, "FINLOCATION"} << "" << done("Location complete, empty")
                                 << "";

    // Item box: any other text is the item's code, and stays; a long one is not read out whole.
    const auto code = [](const QString &announcement) {
        return Expected{ScanResult::ItemCode, quantity, {}, {}, announcement};
    };
    const Expected dropped{ScanResult::ItemDropped, item, itemAndQuantity, {}, "Item dropped, nothing stored"};
    const QString longCode = QString(99, 'x') + "🙂" + "y";
    QTest::newRow("item code") << none << Scan{item, "CODE-1"} << "CODE-1" << code("Item CODE-1") << "";
    QTest::newRow("quantity label as a code") << none << Scan{item, "QTY:5"} << "QTY:5" << code("Item QTY:5") << "";
    QTest::newRow("code of 100 characters, read whole")
        << none << Scan{item, QString(100, 'x')} << QString(100, 'x') << code("Item " + QString(100, 'x')) << "";
    QTest::newRow("long code, cut before a whole character")
        << none << Scan{item, longCode} << longCode << code("Item " + QString(99, 'x') + "…") << "";
    QTest::newRow("empty item box") << none << Scan{item, ""} << ""
                                    << Expected{ScanResult::Nothing, quantity, {}, {}, {}} << "";
    QTest::newRow("NEWLOC keeps the location")
        << QStringList{"ROW:A"} << Scan{item, "NEWLOC-7"} << "NEWLOC-7"
        << Expected{ScanResult::NewLocation, location, item, {}, "New location"} << "A";
    QTest::newRow("ERROR in the item box") << none << Scan{item, "ERRORS"} << "ERRORS" << dropped << "";

    // Quantity box: a count of the location, the item box's code and the label's rest.
    const auto count = [](const QString &location, const QString &code, const QString &quantity) {
        return Expected{ScanResult::Count, item, itemAndQuantity, RecordTexts{location, code, quantity}, {}};
    };
    // A refused label stays selected, for the next scan to replace.
    const Expected notAQuantity{ScanResult::NotAQuantity, {}, {}, {}, "Not taken, no quantity label", quantity};
    QTest::newRow("count") << QStringList{"ROW:A", "SHELF:2"} << Scan{quantity, "QTY:12"} << "CODE-1"
                           << count("A2", "CODE-1", "12") << "A2";
    QTest::newRow("bare quantity label, no code, no location")
        << none << Scan{quantity, "QTY:"} << "" << count("", "", "") << "";
    QTest::newRow("any text, exactly") << QStringList{"ROW:Reihe-ä"} << Scan{quantity, "QTY:  \"x\\ 数量"}
                                       << "🙂'; DROP TABLE Stock; --"
                                       << count("Reihe-ä", "🙂'; DROP TABLE Stock; --", "  \"x\\ 数量") << "Reihe-ä";
    QTest::newRow("ERROR in the quantity box") << none << Scan{quantity, "ERROR"} << "CODE-1" << dropped << "";
    QTest::newRow("no quantity label") << none << Scan{quantity, "5"} << "CODE-1" << notAQuantity << "";
    QTest::newRow("label not at the start") << none << Scan{quantity, "5 QTY:5"} << "CODE-1" << notAQuantity << "";
    QTest::newRow("location label") << none << Scan{quantity, "ROW:A"} << "" << notAQuantity << "";
    QTest::newRow("empty quantity box") << none << Scan{quantity, ""} << "CODE-1"
                                        << Expected{ScanResult::Nothing, {}, {}, {}, {}} << "";
}

void TestScanRules::scan()
{
    QFETCH(QStringList, before);
    QFETCH(Scan, scan);
    QFETCH(QString, itemCode);
    QFETCH(Expected, expected);
    ScanRules rules;
    for (const QString &label : before)
        rules.scan(ScanBox::Location, label, {});
    const ScanOutcome outcome = rules.scan(scan.box, scan.label, itemCode);
    QCOMPARE(outcome.result, expected.result);
    QCOMPARE(outcome.focus, expected.focus);
    QCOMPARE(outcome.emptied, expected.emptied);
    QCOMPARE(outcome.count, expected.count);
    QCOMPARE(outcome.announcement, expected.announcement);
    QCOMPARE(outcome.selected, expected.selected);
    QTEST(rules.location(), "location");
}

void TestScanRules::byHand_addKeepsTheQuantityBoxWhole_piecesAsTyped()
{
    ScanRules rules;
    rules.scan(ScanBox::Location, "RACK:3", {});
    const ScanOutcome outcome = rules.add("CODE-1", "QTY:7");
    QCOMPARE(outcome.result, ScanResult::Count);
    QCOMPARE(outcome.count, (RecordTexts{"3", "CODE-1", "QTY:7"}));

    rules.scan(ScanBox::Location, "ROW:A", {});
    rules.setPiece(LocationPiece::Row, "ROW:5");
    rules.setPiece(LocationPiece::Shelf, " 2");
    QCOMPARE(rules.location(), "ROW:53 2");
}

QTEST_GUILESS_MAIN(TestScanRules)
#include "test_scan_rules.moc"
