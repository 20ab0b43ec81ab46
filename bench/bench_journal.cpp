// Measures a team station that counts through its journal, over a network that a
// proxy on the loopback slows and cuts:
//
//   bench_journal [scans] [waiting] [stations]     (defaults: 200 scans, 10,000 waiting, 5 stations)
//
// Starts a server of its own that writes to the disk as a server does. Prints,
// each beside its target:
//  - how soon a scan's stored tone follows its Enter, at 0, 50 and 200 ms of round
//    trip to the server, and over stock.mdb (99th percentile under 10 ms, and within
//    1.2 times the file's), scanning at a fast scanner's pace;
//  - how soon counts that waited while the server was out of reach are all on it
//    once it is back (within 10 s for 10,000);
//  - whether stations counting while their network is cut ten times lose or double
//    a count (none).

#include "application/application.h"
#include "bench/bench_postgres.h"
#include "bench/measure.h"
#include "bench/stock_file.h"
#include "main_window/stock_main.h"
#include "store/journal.h"
#include "store/stock_store.h"
#include "store/team_store.h"
#include "support/network_proxy.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

void runEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void pressEnter(QWidget *box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(box, &press);
}

// The 99th percentile, in ms, from a quantity scan's Enter to its stored tone,
// over scans that come every 50 ms, as a fast scanner's.
double scanToTone(std::unique_ptr<Store> store, int scans)
{
    Clock::time_point entered;
    std::vector<double> toneMs;
    StockMain window(
        std::move(store),
        [&](ScanSound sound) {
            if (sound == ScanSound::Stored)
                toneMs.push_back(milliseconds(Clock::now() - entered));
        },
        {});
    if (!window.loadRecords())
        std::exit(1);
    window.show();
    auto *item = window.findChild<QLineEdit *>(QStringLiteral("itemBox"));
    auto *quantity = window.findChild<QLineEdit *>(QStringLiteral("quantityBox"));
    for (int scan = 0; scan < scans; ++scan) {
        item->setText(QStringLiteral("CODE-%1").arg(scan));
        pressEnter(item);
        quantity->setText(QStringLiteral("QTY:%1").arg(scan % 50));
        entered = Clock::now();
        pressEnter(quantity);
        runEventLoopFor(50);
    }
    if (int(toneMs.size()) != scans) {
        std::fprintf(stderr, "bench_journal: not every scan was stored\n");
        std::exit(1);
    }
    return percentile(toneMs, 0.99);
}

} // namespace

int main(int argc, char *argv[])
{
    const int scans = argc > 1 ? std::atoi(argv[1]) : 200;
    const int waiting = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int stations = argc > 3 ? std::atoi(argv[3]) : 5;
    if (argc > 4 || scans < 1 || waiting < 1 || stations < 1) {
        std::fprintf(stderr, "usage: %s [scans] [waiting] [stations]\n", argv[0]);
        return 2;
    }
    const std::string platform = windowSystem();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    setUpApplication();
    BenchServer server;
    NetworkProxy network(QString::fromStdString(server.socketFolder()));
    const auto urlOf = [&](const std::string &database) {
        return "postgresql://postgres@127.0.0.1:" + std::to_string(network.port()) + "/" + database;
    };

    std::printf("A scan's Enter to its stored tone, %d scans every 50 ms, window on %s\n", scans, platform.c_str());
    const TemporaryFolder fileFolder;
    const double fileMs = scanToTone(std::make_unique<StockStore>(fileFolder.path()), scans);
    std::printf("  %-34s 99th percentile %7.2f ms\n", "over stock.mdb", fileMs);
    for (int roundTripMs : {0, 50, 200}) {
        network.setDelay(roundTripMs / 2);
        const TemporaryFolder station;
        const double teamMs = scanToTone(std::make_unique<TeamStore>(urlOf(server.createDatabase()), station.path()),
                                         scans);
        std::printf("  %-34s 99th percentile %7.2f ms, %.2f times the file's; under 10 ms and within 1.2 times: %s\n",
                    ("over the server, " + std::to_string(roundTripMs) + " ms round trip").c_str(), teamMs,
                    teamMs / fileMs, verdict(teamMs < 10 && teamMs <= 1.2 * fileMs));
    }

    // Counts that waited for the server, all sent once it is back (50 ms round trip).
    network.setDelay(25);
    {
        const std::string database = server.createDatabase(), url = urlOf(database);
        const TemporaryFolder folder;
        TeamStore(url, folder.path()).listAll([](const StockRecordView &) {});
        {
            Journal journal(folder.path(), url);
            for (int count = 0; count < waiting; ++count)
                journal.add("W", "CODE-" + std::to_string(count), "1");
        }
        network.setMode(NetworkProxy::Mode::Stall);
        TeamStore station(url, folder.path());
        station.listAll([](const StockRecordView &) {});
        network.setMode(NetworkProxy::Mode::Pass);
        const Clock::time_point back = Clock::now();
        driveUntil(station, [&] { return station.link()->reachable && station.link()->waiting == 0; },
                   std::chrono::seconds(120));
        const double sentMs = milliseconds(Clock::now() - back);
        const std::string onServer = server.query(database, "SELECT count(*) FROM \"Stock\"")[0][0];
        std::printf("\n%d counts waiting, the server back: all %s on it after %.0f ms; within 10 s: %s\n", waiting,
                    onServer.c_str(), sentMs, verdict(onServer == std::to_string(waiting) && sentMs <= 10000));
    }

    // Stations counting a count each every 100 ms while their network is cut ten times.
    network.setDelay(0);
    {
        const std::string database = server.createDatabase(), url = urlOf(database);
        const int counts = 150;
        std::vector<std::thread> team;
        std::atomic<int> done = 0;
        for (int station = 0; station < stations; ++station)
            team.emplace_back([&, station] {
                const TemporaryFolder folder;
                TeamStore store(url, folder.path());
                store.listAll([](const StockRecordView &) {});
                for (int count = 0; count < counts; ++count) {
                    store.append("S" + std::to_string(station), "CODE-" + std::to_string(count), "1");
                    driveUntil(store, [] { return false; }, std::chrono::milliseconds(100));
                }
                driveUntil(store, [&] { return store.link()->reachable && store.link()->waiting == 0; },
                           std::chrono::seconds(120));
                ++done;
            });
        for (int cut = 0; cut < 10; ++cut) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            network.cut();
            network.setMode(NetworkProxy::Mode::Stall);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            network.setMode(NetworkProxy::Mode::Pass);
        }
        for (std::thread &station : team)
            station.join();
        const auto counted = server.query(database, "SELECT count(*), count(DISTINCT (\"Location\", \"StockCode\"))"
                                                    " FROM \"Stock\"");
        const int expected = stations * counts;
        std::printf("\n%d stations, %d counts each, the network cut 10 times: %s on the server, %s of them"
                    " distinct, of %d; none lost or doubled: %s\n",
                    stations, counts, counted[0][0].c_str(), counted[0][1].c_str(), expected,
                    verdict(done == stations && counted[0][0] == std::to_string(expected)
                            && counted[0][1] == std::to_string(expected)));
    }
    return 0;
}
