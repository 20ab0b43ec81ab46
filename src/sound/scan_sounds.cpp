#include "scan_sounds.h"

#ifdef QUILLMARCH_SILENT
// Built without Qt Multimedia: the player stays silent.
class ToneOutput : public QObject {
public:
    explicit ToneOutput(TonePlayer &) {}
    void open() {}
    void play(ScanSound) {}
};
#else
#include <QAudioSink>
#include <QMediaDevices>

#include <array>
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

// Qt's PulseAudio layer warns on standard error when there is no sound server;
// without one the program is simply silent, so the warning is dropped.
QtMessageHandler nextHandler = nullptr;

void dropSoundServerWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("PulseAudioService:")))
        nextHandler(type, context, message);
}

} // namespace

// Lives on the player's thread: every call to the sound server happens there.
class ToneOutput : public QObject {
public:
    explicit ToneOutput(TonePlayer &player) : m_player(player) {}

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
        emit m_player.toneHanded(sound);
    }

private:
    TonePlayer &m_player;
    QAudioSink *m_sink = nullptr;
    std::array<QByteArray, 3> m_pcm;
};
#endif

TonePlayer::TonePlayer() : m_output(new ToneOutput(*this))
{
    m_output->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_output, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_output, [output = m_output] { output->open(); }, Qt::QueuedConnection);
}

TonePlayer::~TonePlayer()
{
    m_thread.quit();
    m_thread.wait();
}

void TonePlayer::play(ScanSound sound)
{
    QMetaObject::invokeMethod(
        m_output, [output = m_output, sound] { output->play(sound); }, Qt::QueuedConnection);
}
