// Measures how soon a scan is heard, as a listener hears it: from its Enter key
// to the first sound of its tone in what the desktop's sound server plays into
// its default sink, recorded from the sink's monitor by parec (pulseaudio-utils):
//
//   bench_scan_sound [scans]     (default: 200 scans)
//
// The scans take turns between an item code ("accepted") and its quantity label
// ("stored", after the count's commit), one at a time as an operator scans, each
// once the tone before has died away. The figures include the sound server's own
// part (the player's stream started and mixed into the sink) and the recording's
// (the monitor read in fragments of 2 ms), not a sound card's buffer, which comes
// after the monitor. Also shown: the part after the handler asked for the sound,
// which leaves out the commit's wait for the disk. Target: the 99th percentile
// within 30 ms.

#include "application/application.h"
#include "bench/measure.h"
#include "bench/stock_file.h"
#include "main_window/stock_main.h"
#include "store/stock_store.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// The sound server's default sink as heard from its monitor, recorded by parec on a
// thread of the listener's own, which stamps each fragment as it arrives: when the
// last one came, when the last loud one came, and the first loud one since the
// listener was told to wait for a sound.
class Listener {
public:
    // A QThread, whose event dispatcher the recorder's QProcess needs.
    Listener() : m_thread(QThread::create([this] { record(); })) { m_thread->start(); }
    ~Listener()
    {
        m_stop = true;
        m_thread->wait();
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // Waits until the sink has been quiet for a while, keeping the window's events
    // going; false when the recording ended or the sink was not quiet within seconds.
    bool waitForSilence()
    {
        return waitFor(std::chrono::seconds(5), [this] { return m_quiet; });
    }

    // The first loud fragment from now on is the next sound's.
    void expectSound()
    {
        const std::lock_guard lock(m_mutex);
        m_sound.reset();
    }

    // When the sound expected arrived; nothing when it did not within the time given.
    std::optional<Clock::time_point> sound(std::chrono::milliseconds within)
    {
        waitFor(within, [this] { return m_sound.has_value(); });
        const std::lock_guard lock(m_mutex);
        return m_sound;
    }

private:
    // Loud: above about 0.4 % of full scale; a null sink is silent to the last bit, and
    // a tone's fade-in passes this within a few samples.
    static constexpr int threshold = 128;
    static constexpr auto quiet = std::chrono::milliseconds(50);

    template<typename Condition>
    bool waitFor(Clock::duration within, Condition met)
    {
        const auto deadline = Clock::now() + within;
        std::unique_lock lock(m_mutex);
        while (!met() && !m_ended && Clock::now() < deadline) {
            lock.unlock();
            QApplication::processEvents();
            lock.lock();
            m_changed.wait_for(lock, std::chrono::milliseconds(1));
        }
        return met();
    }

    void record()
    {
        // 16-bit mono at the monitor's own rate, so that the server converts no rate on the way.
        QProcess parec;
        parec.start(QStringLiteral("parec"),
                    {"--device=@DEFAULT_MONITOR@", "--raw", "--format=s16le", "--channels=1", "--fix-rate",
                     "--latency-msec=2"});
        parec.waitForStarted(-1);
        QByteArray pending;
        while (!m_stop && parec.state() == QProcess::Running) {
            if (!parec.waitForReadyRead(100))
                continue;
            const Clock::time_point now = Clock::now();
            pending += parec.readAllStandardOutput();
            const auto *samples = reinterpret_cast<const qint16 *>(pending.constData());
            const bool loud = std::any_of(samples, samples + pending.size() / 2,
                                          [](qint16 sample) { return std::abs(int(sample)) > threshold; });
            pending.remove(0, pending.size() / 2 * 2);
            const std::lock_guard lock(m_mutex);
            if (loud) {
                m_lastLoud = now;
                if (!m_sound)
                    m_sound = now;
            }
            // Quiet once a fragment has come that long after the last loud one.
            m_quiet = !m_lastLoud || now - *m_lastLoud >= quiet;
            m_changed.notify_one();
        }
        if (!m_stop)
            std::fprintf(stderr, "bench_scan_sound: parec %s\n",
                         parec.error() == QProcess::FailedToStart ? "cannot be started (pulseaudio-utils)"
                                                                  : "ended: no sound server to record");
        parec.kill();
        parec.waitForFinished();
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Clock::time_point> m_lastLoud, m_sound;
    bool m_quiet = false;
    bool m_ended = false;
    std::atomic<bool> m_stop = false;
    const std::unique_ptr<QThread> m_thread;
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
    Listener listener;
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

    // One tone first, once the recording has begun: the player opens its stream to the
    // sound server on its own thread.
    if (!listener.waitForSilence()) {
        std::fprintf(stderr, "bench_scan_sound: the sound server's default sink is not quiet\n");
        return 1;
    }
    listener.expectSound();
    player->play(ScanSound::Accepted);
    if (!listener.sound(std::chrono::seconds(5))) {
        std::fprintf(stderr, "bench_scan_sound: no tone is heard from the sound server's default sink\n");
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
        if (!listener.waitForSilence()) {
            std::fprintf(stderr, "bench_scan_sound: the tone before scan %d did not end\n", scan + 1);
            return 1;
        }
        listener.expectSound();
        const Clock::time_point start = Clock::now();
        QApplication::sendEvent(box, &enter);
        const std::optional<Clock::time_point> heard = listener.sound(std::chrono::seconds(2));
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
    std::printf("Scan heard: Enter key to its tone in the sound server's default sink, recorded from the sink's\n"
                "monitor; the server's own latency and the recording's 2 ms fragments included (%d scans, window "
                "system %s)\n",
                scans, qPrintable(QGuiApplication::platformName()));
    std::printf("%-34s %10s %10s\n", "", "median", "99th pct");
    std::printf("%-34s %7.2f ms %7.2f ms\n", "item code (accepted)", percentile(acceptedMs, 0.5),
                percentile(acceptedMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "quantity, committed (stored)", percentile(storedMs, 0.5),
                percentile(storedMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "every scan", percentile(allMs, 0.5), percentile(allMs, 0.99));
    std::printf("%-34s %7.2f ms %7.2f ms\n", "every scan, sound asked to heard", percentile(soundOnlyMs, 0.5),
                percentile(soundOnlyMs, 0.99));
    std::printf("\n99th percentile within 30 ms: %s\n", percentile(allMs, 0.99) <= 30 ? "met" : "MISSED");
    return 0;
}
