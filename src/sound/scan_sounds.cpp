#include "sound/scan_sounds.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The player's thread and the sound server's library each need a few file
// descriptors, and GLib ends the whole program when a thread's event loop
// cannot get its own: where so few are left, the player stays silent instead.
bool descriptorsToSpare()
{
#ifdef Q_OS_UNIX
    std::array<int, 6> spare{};
    for (int &descriptor : spare)
        descriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool enough = std::none_of(spare.begin(), spare.end(), [](int descriptor) { return descriptor < 0; });
    for (int descriptor : spare)
        if (descriptor >= 0)
            close(descriptor);
    return enough;
#else
    return true;
#endif
}

} // namespace

#ifdef QUILLMARCH_SILENT
// Built without Qt Multimedia: the player stays silent.
class ToneOutput : public QObject {
public:
    explicit ToneOutput(TonePlayer &) {}
    void open() {}
    void play(ScanSound) {}
    void forgetPlayer() {}
};
#else
#include <QAudioSink>
#include <QMediaDevices>

#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

namespace {

constexpr int sampleRate = 48000;

// Pitch and length tell the sounds apart: a high blip for a stored count, a
// short mid tick for a taken scan, a long low tone for a refused one.
struct Tone {
    double hertz;
    int milliseconds;
};
constexpr std::array<Tone, 3> tones = {{
    {1320.0, 120}, // Stored
    {880.0, 50},   // Accepted
    {330.0, 300},  // Refused
}};

// A moderate volume: a fifth of full scale.
constexpr double amplitude = 0.2;
// Fades in and out, so a tone starts and ends without a click.
constexpr int fadeSamples = sampleRate * 5 / 1000;

// The formats the tones are played in, the first a device takes: 16-bit mono, which
// sound servers convert as they need; else what Windows mixes in, 32-bit float
// stereo, the only format Wine's Windows audio takes.
QList<QAudioFormat> toneFormats()
{
    QList<QAudioFormat> formats;
    for (const auto &[channels, sampleFormat] : {std::pair{1, QAudioFormat::Int16}, {2, QAudioFormat::Float}}) {
        QAudioFormat format;
        format.setSampleRate(sampleRate);
        format.setChannelCount(channels);
        format.setSampleFormat(sampleFormat);
        formats << format;
    }
    return formats;
}

QByteArray makeTone(const Tone &tone, const QAudioFormat &format)
{
    const int samples = sampleRate * tone.milliseconds / 1000;
    QByteArray pcm(format.bytesForFrames(samples), Qt::Uninitialized);
    char *out = pcm.data();
    const auto put = [&out](auto sample) {
        std::memcpy(out, &sample, sizeof sample);
        out += sizeof sample;
    };
    for (int i = 0; i < samples; ++i) {
        const double fade = std::min({1.0, double(i) / fadeSamples, double(samples - 1 - i) / fadeSamples});
        const double level = amplitude * fade * std::sin(2 * std::numbers::pi * tone.hertz * i / sampleRate);
        for (int channel = 0; channel < format.channelCount(); ++channel) {
            if (format.sampleFormat() == QAudioFormat::Float)
                put(float(level));
            else
                put(qint16(std::lround(level * 32767)));
        }
    }
    return pcm;
}

// Qt's PulseAudio layer warns on standard error when there is no sound server,
// or when it stalls or goes; the program is then simply silent, so the warnings
// are dropped: those of its own categories, and those it writes without one,
// known by how they start, quoted or not.
QtMessageHandler nextHandler = nullptr;

bool fromSoundLayer(const QMessageLogContext &context, const QString &message)
{
    if (QByteArrayView(context.category).startsWith("qt.multimedia"))
        return true;
    const QStringView text = QStringView(message).mid(message.startsWith(u'"') ? 1 : 0);
    static constexpr QStringView starts[] = {u"PulseAudioService:", u"Stream error:", u"QAudioSink:",
                                             u"Failed to get server information:", u"Failed to get sink information:"};
    return std::any_of(std::begin(starts), std::end(starts), [&](QStringView start) { return text.startsWith(start); });
}

void dropSoundServerWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!fromSoundLayer(context, message))
        nextHandler(type, context, message);
}

} // namespace

// Lives on the player's thread: every call to the sound server happens there.
class ToneOutput : public QObject {
public:
    explicit ToneOutput(TonePlayer &player) : m_player(&player) {}

    void open()
    {
        static std::once_flag filterInstalled;
        std::call_once(filterInstalled, [] { nextHandler = qInstallMessageHandler(dropSoundServerWarnings); });
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return;
        for (const QAudioFormat &format : toneFormats()) {
            if (!device.isFormatSupported(format))
                continue;
            auto *sink = new QAudioSink(device, format, this);
            // A device may list a format that it then fails to start in.
            if (!sink->start()) {
                delete sink;
                continue;
            }
            sink->stop();
            for (std::size_t i = 0; i < tones.size(); ++i)
                m_pcm[i] = makeTone(tones[i], format);
            m_sink = sink;
            // Room for the longest tone, so each one goes to the server in one write.
            m_sink->setBufferSize(m_pcm[std::size_t(ScanSound::Refused)].size());
            return;
        }
    }

    void play(ScanSound sound)
    {
        if (!m_sink)
            return;
        // Stopping drops what is left of the tone before.
        m_sink->stop();
        QIODevice *stream = m_sink->start();
        if (!stream)
            return;
        stream->write(m_pcm[std::size_t(sound)]);
        const std::lock_guard lock(m_playerMutex);
        if (m_player)
            emit m_player->toneHanded(sound);
    }

    // The player is going; a call to the sound server that returns after it
    // has gone tells it nothing.
    void forgetPlayer()
    {
        const std::lock_guard lock(m_playerMutex);
        m_player = nullptr;
    }

private:
    std::mutex m_playerMutex;
    TonePlayer *m_player;
    QAudioSink *m_sink = nullptr;
    std::array<QByteArray, 3> m_pcm;
};
#endif

TonePlayer::TonePlayer() : m_thread(new QThread)
{
#ifdef Q_OS_LINUX
    // PulseAudio's own library writes its complaints (a shared-memory map that
    // fails when memory is short) straight to standard error; they go to the
    // system's log instead, before the library is first used.
    if (!qEnvironmentVariableIsSet("PULSE_LOG_SYSLOG"))
        qputenv("PULSE_LOG_SYSLOG", "1");
#endif
    if (!descriptorsToSpare())
        return;
    m_thread->start();
    // Without a thread of its own (memory or the system's limit used up), the player stays silent.
    if (!m_thread->isRunning())
        return;
    m_output = new ToneOutput(*this);
    m_output->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_output, &QObject::deleteLater);
    QMetaObject::invokeMethod(
        m_output, [output = m_output] { output->open(); }, Qt::QueuedConnection);
}

TonePlayer::~TonePlayer()
{
    if (m_output)
        m_output->forgetPlayer();
    m_thread->quit();
    // A sound server that has stalled, or is slow to answer a first call, holds
    // the thread in a call that does not return. The program does not wait for
    // it: the thread is left to end with the process.
    if (m_thread->wait(QDeadlineTimer(exitWaitMs))) {
        delete m_thread;
        return;
    }
#ifdef __GLIBC__
    // Qt's sound layer, torn down as the process ends, would break the call the
    // thread is in and abort, or wait on it. Every count is stored, so the
    // process ends then and there, with the status it was given.
    on_exit([](int status, void *) { std::_Exit(status); }, nullptr);
#endif
}

void TonePlayer::play(ScanSound sound)
{
    if (!m_output)
        return;
    QMetaObject::invokeMethod(
        m_output, [output = m_output, sound] { output->play(sound); }, Qt::QueuedConnection);
}
