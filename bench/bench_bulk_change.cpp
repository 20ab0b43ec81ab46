// Measures how a station follows a bulk change made elsewhere:
//
//   bench_bulk_change [records] [deleted]     (defaults: 1,000,000 records, 200,000 deleted)
//
// Starts a server of its own, fills its table, starts a main window over it, then
// deletes that many records at once from another session, as psql would. It prints
// how soon the window's list matches the table again (target: within 5 s) and the
// longest the window's event loop was held meanwhile (target: at most 100 ms), each
// beside its target.

#include "application/application.h"
#include "bench/bench_postgres.h"
#include "bench/measure.h"
#include "bench/stock_file.h"
#include "main_window/stock_list_model.h"
#include "main_window/stock_main.h"
#include "store/team_store.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long deleted = argc > 2 ? std::atol(argv[2]) : 200000;
    if (argc > 3 || records < 1 || deleted < 1 || deleted > records) {
        std::fprintf(stderr, "usage: %s [records] [deleted]\n", argv[0]);
        return 2;
    }
    const std::string platform = windowSystem();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    setUpApplication();

    BenchServer server;
    const std::string database = server.createDatabase();
    const std::string url = server.url(database);
    makeStockTable(url, records);
    const TemporaryFolder station;
    StockMain window(std::make_unique<TeamStore>(url, station.path()), {}, {});
    if (!window.loadRecords())
        return 1;
    window.show();
    QApplication::processEvents();
    const auto *model = static_cast<const StockListModel *>(
        window.findChild<QAbstractItemView *>(QStringLiteral("stockList"))->model());

    // The event loop's turns, as a timer that should fire every 10 ms sees them.
    Clock::time_point lastTurn = Clock::now();
    double longestHoldMs = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longestHoldMs = std::max(longestHoldMs, milliseconds(now - lastTurn));
        lastTurn = now;
    });

    const Clock::time_point deleting = Clock::now();
    server.query(database, "DELETE FROM \"Stock\" WHERE id <= " + std::to_string(records) + " AND id % "
                               + std::to_string(records / deleted) + " = 0");
    const long left = records - records / (records / deleted);
    const Clock::time_point committed = Clock::now();
    lastTurn = committed;
    turns.start(10);
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (model->rowCount() == left)
            app.quit();
    });
    done.start(1);
    QTimer::singleShot(60000, &app, &QApplication::quit);
    app.exec();
    const double matchedMs = milliseconds(Clock::now() - committed);
    if (model->rowCount() != left) {
        std::fprintf(stderr, "bench_bulk_change: the list has %d rows, the table %ld\n", model->rowCount(), left);
        return 1;
    }
    std::printf("%ld records, %ld deleted at once by another session (%.0f ms to commit), the window on %s\n",
                records, records - left, milliseconds(committed - deleting), platform.c_str());
    std::printf("%-46s %9.0f ms   target within 5000 ms: %s\n", "the list as the table is again, after",
                matchedMs, matchedMs <= 5000 ? "met" : "MISSED");
    std::printf("%-46s %9.0f ms   target at most 100 ms: %s\n", "the event loop held at the longest for",
                longestHoldMs, longestHoldMs <= 100 ? "met" : "MISSED");
    return 0;
}
