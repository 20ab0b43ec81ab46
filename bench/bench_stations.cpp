// Measures a team counting into one PostgreSQL server on this machine:
//
//   bench_stations [stations] [counts] [interval-ms]     (defaults: 5 stations, 200 counts, 100 ms)
//
// Starts a server of its own that writes to the disk as a server does, and a
// main window over it, as a station that watches. The stations are the program's
// store alone, each on a thread and a connection of its own, storing a count
// every interval (a scanner's pace at its quickest: two labels a count) and
// following the others as a window does. It prints, against their targets, how
// long a count's commit takes (99th percentile under 20 ms) and how soon after
// its commit each count is in the watching window's list (99th percentile
// within 200 ms).

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
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// When each count was committed, as its station saw the commit return.
struct Commits {
    std::mutex mutex;
    std::map<qint64, Clock::time_point> at;
    std::vector<double> keptMs;   // from the scan to the count kept on the station
    std::vector<double> takingMs; // from the scan to the count on the server
};

void countAt(const std::string &url, int station, int counts, std::chrono::milliseconds interval, Commits &commits)
{
    // The ids the server gives the station's counts, as it learns them.
    struct Stored : StoreObserver {
        std::vector<std::int64_t> ids;
        void recordsChanged(const std::vector<StockChange> &) override {}
        void countStored(std::int64_t, const StockRecord &stored) override { ids.push_back(stored.id); }
        void relistBegins() override {}
        void relisted(const StockRecordView &) override {}
        void relistEnds(bool) override {}
        void linkChanged(const LinkStatus &) override {}
    } stored;
    const TemporaryFolder folder;
    TeamStore store(url, folder.path());
    store.listAll([](const StockRecordView &) {});
    store.follow(&stored);
    Clock::time_point next = Clock::now();
    for (int count = 0; count < counts; ++count) {
        driveUntil(store, [] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    (next += interval) - Clock::now()));
        const Clock::time_point start = Clock::now();
        store.append("S" + std::to_string(station), "CODE-" + std::to_string(count), "1");
        const Clock::time_point kept = Clock::now();
        driveUntil(store, [&] { return stored.ids.size() == std::size_t(count + 1); }, std::chrono::seconds(10));
        const Clock::time_point committed = Clock::now();
        const std::lock_guard<std::mutex> lock(commits.mutex);
        commits.keptMs.push_back(milliseconds(kept - start));
        commits.takingMs.push_back(milliseconds(committed - start));
        if (!stored.ids.empty())
            commits.at[stored.ids.back()] = committed;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const int stations = argc > 1 ? std::atoi(argv[1]) : 5;
    const int counts = argc > 2 ? std::atoi(argv[2]) : 200;
    const int intervalMs = argc > 3 ? std::atoi(argv[3]) : 100;
    if (argc > 4 || stations < 1 || counts < 1 || intervalMs < 0) {
        std::fprintf(stderr, "usage: %s [stations] [counts] [interval-ms]\n", argv[0]);
        return 2;
    }
    const std::string platform = windowSystem();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    setUpApplication();

    BenchServer server;
    const std::string url = server.url(server.createDatabase());
    const TemporaryFolder watching;
    StockMain window(std::make_unique<TeamStore>(url, watching.path()), {}, {});
    if (!window.loadRecords())
        return 1;
    window.show();
    // Shown and painted before the team starts: a first paint is no part of following them.
    QApplication::processEvents();

    // When each count reached the watching window's list.
    std::map<qint64, Clock::time_point> listed;
    auto *list = window.findChild<QAbstractItemView *>(QStringLiteral("stockList"));
    const auto *model = static_cast<const StockListModel *>(list->model());
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            listed.emplace(model->key(row).number, Clock::now());
    });

    Commits commits;
    std::vector<std::thread> team;
    for (int station = 0; station < stations; ++station)
        team.emplace_back(countAt, url, station, counts, std::chrono::milliseconds(intervalMs), std::ref(commits));
    const int expected = stations * counts;
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (int(listed.size()) >= expected)
            app.quit();
    });
    done.start(50);
    QTimer::singleShot(std::chrono::milliseconds(intervalMs * counts + 60000), &app, &QApplication::quit);
    app.exec();
    for (std::thread &station : team)
        station.join();

    std::vector<double> latenciesMs;
    for (const auto &[id, committed] : commits.at) {
        const auto arrived = listed.find(id);
        if (arrived == listed.end()) {
            std::fprintf(stderr, "bench_stations: count %lld never reached the list\n", static_cast<long long>(id));
            return 1;
        }
        latenciesMs.push_back(std::max(0.0, milliseconds(arrived->second - committed)));
    }
    const double commitP99 = percentile(commits.takingMs, 0.99);
    const double listedP99 = percentile(latenciesMs, 0.99);
    std::printf("%d stations, a count each every %d ms, %d counts each, over PostgreSQL on this machine (Unix"
                " socket); the watching window on %s\n",
                stations, intervalMs, counts, platform.c_str());
    std::printf("%-44s %10s %10s %10s %10s\n", "", "median", "99th pct", "worst", "target");
    std::printf("%-44s %7.2f ms %7.2f ms %7.2f ms %7s ms\n", "a count kept on its station",
                percentile(commits.keptMs, 0.5), percentile(commits.keptMs, 0.99), percentile(commits.keptMs, 1.0), "");
    std::printf("%-44s %7.2f ms %7.2f ms %7.2f ms %7s ms\n", "a count on the server", percentile(commits.takingMs, 0.5),
                commitP99, percentile(commits.takingMs, 1.0), "< 20");
    std::printf("%-44s %7.2f ms %7.2f ms %7.2f ms %7s ms\n", "from its commit to the other station's list",
                percentile(latenciesMs, 0.5), listedP99, percentile(latenciesMs, 1.0), "<= 200");
    std::printf("\non the server within 20 ms (99th percentile): %s\n", verdict(commitP99 < 20));
    std::printf("in the other station's list within 200 ms (99th percentile): %s\n", verdict(listedP99 <= 200));
    return 0;
}
