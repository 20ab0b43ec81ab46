// Measures how soon a scan is heard: from its Enter key to the tone's samples
// handed to the sound server, over the desktop's sound server:
//
//   bench_scan_sound [scans]     (default: 200 scans)
//
// The scans take turns between an item code ("accepted") and its quantity label
// ("stored", after the count's commit), one at a time as an operator scans.
// Also shown: the part after the handler asked for the sound, which leaves out
// the commit's wait for the disk. Target: the 99th percentile within 30 ms.

#include "application/application.h"
#include "bench/stock_file.h"
#include "main_window/stock_main.h"
#include "store/stock_store.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(fraction * double(values.size() - 1) + 0.5);
    return values[at];
}

// When the player last handed a tone to the sound server; told from the player's thread.
class HandedTones {
public:
    explicit HandedTones(TonePlayer &player)
    {
        QObject::connect(
            &player, &TonePlayer::toneHanded, &player,
            [this] {
                const std::lock_guard lock(m_mutex);
                m_handed = Clock::now();
                m_ready.notify_one();
            },
            Qt::DirectConnection);
    }

    // Waits for the next tone, keeping the window's events going; nothing when none came within a second.
    std::optional<Clock::time_point> next()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        std::unique_lock lock(m_mutex);
        while (!m_handed && Clock::now() < deadline) {
            lock.unlock();
            QApplication::processEvents();
            lock.lock();
            m_ready.wait_for(lock, std::chrono::milliseconds(1));
        }
        return std::exchange(m_handed, std::nullopt);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::optional<Clock::time_point> m_handed;
};

} // namespace

int main(int argc, char *argv[])
{
    const int scans = argc > 1 ? std::atoi(argv[1]) : 200;
    if (argc > 2 || scans < 2) {
        std::fprintf(stderr, "usage: %s [scans]\n", argv[0]);
        return 2;
    }
    windowSystem();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    setUpApplication();

    const std::unique_ptr<TonePlayer> player = makeTonePlayer(false);
    Clock::time_point asked;
    const SoundOutput play = soundsOf(player.get());
    HandedTones handed(*player);
    TemporaryFolder folder;
    StockMain window(std::make_unique<StockStore>(folder.path()),
                     [&](ScanSound sound) {
                         asked = Clock::now();
                         play(sound);
                     },
                     {});
    if (!window.loadRecords())
        return 1;
    window.show();
    QApplication::processEvents();
    auto *item = window.findChild<QLineEdit *>(QStringLiteral("itemBox"));
    auto *quantity = window.findChild<QLineEdit *>(QStringLiteral("quantityBox"));
    auto *list = window.findChild<QAbstractItemView *>(QStringLiteral("stockList"));

    // One tone first: the player opens its stream to the sound server on its own thread.
    player->play(ScanSound::Accepted);
    if (!handed.next()) {
        std::fprintf(stderr, "bench_scan_sound: no sound server or output device, so nothing is played\n");
        return 1;
    }

    const auto ms = [](Clock::duration duration) {
        return std::chrono::duration<double, std::milli>(duration).count();
    };
    std::vector<double> acceptedMs, storedMs, soundOnlyMs;
    for (int scan = 0; scan < scans; ++scan) {
        const bool isQuantity = scan % 2 == 1;
        QLineEdit *box = isQuantity ? quantity : item;
        box->setText(isQuantity ? QStringLiteral("QTY:%1").arg(scan % 50) : QStringLiteral("CODE-%1").arg(scan));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        const Clock::time_point start = Clock::now();
        QApplication::sendEvent(box, &enter);
        const std::optional<Clock::time_point> heard = handed.next();
        if (!heard) {
            std::fprintf(stderr, "bench_scan_sound: scan %d was not heard\n", scan + 1);
            return 1;
        }
        (isQuantity ? storedMs : acceptedMs).push_back(ms(*heard - start));
        soundOnlyMs.push_back(ms(*heard - asked));
    }
    if (list->model()->rowCount() != scans / 2) {
        std::fprintf(stderr, "bench_scan_sound: not every count was stored\n");
        return 1;
    }

    std::vector<double> allMs = acceptedMs;
    allMs.insert(allMs.end(), storedMs.begin(), storedMs.end());
    std::printf("Scan heard: Enter key to the tone handed to the sound server (%d scans, window system %s)\n", scans,
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-34s %10s %10s\n", "", "median", "99th pct");
    std::printf("%-34s %7.2f ms %7.2f ms\n", "item code (accepted)", percentile(acceptedMs, 0.5),
                percentile(acceptedMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "quantity, committed (stored)", percentile(storedMs, 0.5),
                percentile(storedMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "every scan", percentile(allMs, 0.5), percentile(allMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "every scan, sound asked to handed", percentile(soundOnlyMs, 0.5),
                percentile(soundOnlyMs, 0.99));
    std::printf("\n99th percentile within 30 ms: %s\n", percentile(allMs, 0.99) <= 30 ? "met" : "MISSED");
    return 0;
}
