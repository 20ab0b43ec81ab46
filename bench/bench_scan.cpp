// Measures one quantity scan, from its Enter key to the committed record and
// its painted list row, over an empty table and over a large one:
//
//   bench_scan [records] [scans]     (defaults: 1000000 records, 1000 scans)
//
// Each scan types a code into the item box, then a quantity label into the
// quantity box, and times only the Enter of the quantity box and the event-loop
// turn that paints the new row; the two tables take turns. Each scan plays its
// sound as in the program. Targets: the figures over the large table within
// 1.2 times those over the empty one, and the 99th percentile under 20 ms.

#include "application/application.h"
#include "bench/measure.h"
#include "bench/stock_file.h"
#include "main_window/stock_main.h"
#include "store/stock_store.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Figures {
    double medianMs;
    double p99Ms;
};

void pressEnter(QWidget *box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(box, &press);
}

// One main window over a stock.mdb of its own, ready for scans.
class ScanWindow {
public:
    ScanWindow(long records, const SoundOutput &sounds) : m_records(records)
    {
        makeStockFile(m_folder.path(), records);
        m_window = std::make_unique<StockMain>(std::make_unique<StockStore>(m_folder.path()), sounds, QString());
        if (!m_window->loadRecords())
            std::exit(1);
        m_window->show();
        QApplication::processEvents();
        m_item = m_window->findChild<QLineEdit *>(QStringLiteral("itemBox"));
        m_quantity = m_window->findChild<QLineEdit *>(QStringLiteral("quantityBox"));
        m_list = m_window->findChild<QAbstractItemView *>(QStringLiteral("stockList"));
    }

    // Scans one count and returns the milliseconds from the quantity's Enter to its painted row.
    double scan(int number)
    {
        m_item->setText(QStringLiteral("CODE-%1").arg(number));
        pressEnter(m_item);
        m_quantity->setText(QStringLiteral("QTY:%1").arg(number % 50));
        const auto start = std::chrono::steady_clock::now();
        pressEnter(m_quantity);
        QApplication::processEvents();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }

    void checkEveryScanStored(int scans) const
    {
        if (m_list->model()->rowCount() != m_records + scans) {
            std::fprintf(stderr, "bench_scan: not every scan was stored\n");
            std::exit(1);
        }
    }

private:
    long m_records;
    TemporaryFolder m_folder;
    std::unique_ptr<StockMain> m_window;
    QLineEdit *m_item = nullptr;
    QLineEdit *m_quantity = nullptr;
    QAbstractItemView *m_list = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int scans = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (argc > 3 || records < 0 || scans < 1) {
        std::fprintf(stderr, "usage: %s [records] [scans]\n", argv[0]);
        return 2;
    }
    windowSystem();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    setUpApplication();
    // Each scan is heard, as in the program, on the desktop's sound server if there is one.
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(false);

    // The two tables take turns, scan by scan, so that the disk's slow moments
    // fall on both alike.
    ScanWindow emptyTable(0, soundsOf(player.get()));
    ScanWindow largeTable(records, soundsOf(player.get()));
    std::vector<double> emptyMs, largeMs;
    for (int scan = 0; scan < scans; ++scan) {
        emptyMs.push_back(emptyTable.scan(scan));
        largeMs.push_back(largeTable.scan(scan));
    }
    emptyTable.checkEveryScanStored(scans);
    largeTable.checkEveryScanStored(scans);
    const Figures empty{percentile(emptyMs, 0.5), percentile(emptyMs, 0.99)};
    const Figures large{percentile(largeMs, 0.5), percentile(largeMs, 0.99)};
    std::printf("One quantity scan, Enter to committed record and painted row (%d scans each, window system %s)\n",
                scans, qPrintable(QGuiApplication::platformName()));
    std::printf("%-28s %10s %10s\n", "", "median", "99th pct");
    std::printf("%-28s %7.2f ms %7.2f ms\n", "empty table", empty.medianMs, empty.p99Ms);
    std::printf("%-28s %7.2f ms %7.2f ms\n", (std::to_string(records) + " records").c_str(), large.medianMs,
                large.p99Ms);
    const double medianRatio = large.medianMs / empty.medianMs;
    const double p99Ratio = large.p99Ms / empty.p99Ms;
    std::printf("\nlarge / empty: median %.2f, 99th percentile %.2f; target at most 1.2: %s\n", medianRatio, p99Ratio,
                medianRatio <= 1.2 && p99Ratio <= 1.2 ? "met" : "MISSED");
    std::printf("99th percentile under 20 ms: %s\n", std::max(empty.p99Ms, large.p99Ms) < 20 ? "met" : "MISSED");
    return 0;
}
