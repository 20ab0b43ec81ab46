// The program's start-up as bench_startup measures it: exactly what main.cpp
// does, over the stock folder given on the command line, ending the process as
// soon as the main window's first paint has completed.
//
//   bench_startup_window FOLDER [--server URL]  start-up, over the file or the server; prints its milestones
//   bench_startup_window --store FOLDER         the file store's read alone, then into the list's rows
//
// Every line printed is "name nanoseconds kilobytes": the steady clock (the
// driver's clock too) and the peak resident memory so far.

#include "application/application.h"
#include "main_window/stock_main.h"
#include "main_window/stock_rows.h"
#include "store/stock_store.h"
#include "store/store_choice.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

long peakKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return 0;
}

void milestone(const char *name)
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("%s %lld %ld\n", name,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                peakKilobytes());
}

// Ends the process once the first paint of the watched window has run to its
// end: the paint event of the window itself comes first and its children follow
// in the same pass, so the exit waits for the event loop's next turn.
class FirstPaint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, [] {
                milestone("painted");
                std::fflush(stdout);
                _exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

int startUp(int argc, char *argv[], const std::string &folder, const std::optional<std::string> &server)
{
    QApplication app(argc, argv);
    setUpApplication();
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(false);
    milestone("application");

    StockMain window(chooseStore(folder, folder, server), soundsOf(player.get()), QString::fromStdString(folder));
    if (!window.loadRecords())
        return 1;
    milestone("window");
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}

void readStore(const std::string &folder)
{
    StockStore store(folder);
    milestone("start");
    store.listAll([](const StockRecordView &) {});
    milestone("read");
    StockRows rows;
    store.listAll(
        [&](const StockRecordView &record) {
            rows.append(record.id, record.location, record.stockCode, record.quantity);
        },
        [&](const StockListSize &size) { rows.reserve(size.records, size.textBytes); });
    milestone("rows");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--store") == 0) {
        readStore(argv[2]);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[2], "--server") == 0)
        return startUp(argc, argv, argv[1], std::string(argv[3]));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [--store] FOLDER | FOLDER --server URL\n", argv[0]);
        return 2;
    }
    return startUp(argc, argv, argv[1], std::nullopt);
}
