#include "sound/scan_sounds.h"

#include <QThread>

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
    void open() {}
    void play(ScanSound) {}
};
#else
#include <QAudioSink>
#include <QMediaDevices>

#ifdef Q_OS_WIN
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#endif

#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

namespace {

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
constexpr int fadeMilliseconds = 5;

// A tone in the device's own format, whatever its rate, channels and sample type:
// Windows' shared mode plays nothing else, and a sound server converts nothing then.
QByteArray makeTone(const Tone &tone, const QAudioFormat &format)
{
    const int rate = format.sampleRate();
    const int samples = rate * tone.milliseconds / 1000, fade = rate * fadeMilliseconds / 1000;
    QByteArray pcm(format.bytesForFrames(samples), Qt::Uninitialized);
    char *out = pcm.data();
    const auto put = [&out](auto sample) {
        std::memcpy(out, &sample, sizeof sample);
        out += sizeof sample;
    };
    for (int i = 0; i < samples; ++i) {
        const double faded = std::min({1.0, double(i) / fade, double(samples - 1 - i) / fade});
        const double level = amplitude * faded * std::sin(2 * std::numbers::pi * tone.hertz * i / rate);
        for (int channel = 0; channel < format.channelCount(); ++channel) {
            if (format.sampleFormat() == QAudioFormat::Float)
                put(float(level));
            else if (format.sampleFormat() == QAudioFormat::Int32)
                put(qint32(std::lround(level * 2147483647.0)));
            else
                put(qint16(std::lround(level * 32767)));
        }
    }
    return pcm;
}

#ifdef Q_OS_WIN
// The format Windows mixes the device's sound in: Qt's Windows stream plays it as it
// is, and any other only through a converter that Wine lacks. (Qt's device offers
// 16-bit stereo at 44.1 kHz, whatever the device.) Nothing where it cannot be had.
QAudioFormat mixFormatOf(const QAudioDevice &device)
{
    // For the player's thread, for as long as it runs.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::wstring id = QString::fromUtf8(device.id()).toStdWString();
    IMMDeviceEnumerator *devices = nullptr;
    IMMDevice *endpoint = nullptr;
    IAudioClient *client = nullptr;
    WAVEFORMATEX *mix = nullptr;
    QAudioFormat format;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                   reinterpret_cast<void **>(&devices)))
        && SUCCEEDED(devices->GetDevice(id.c_str(), &endpoint))
        && SUCCEEDED(
            endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void **>(&client)))
        && SUCCEEDED(client->GetMixFormat(&mix))) {
        const bool extensible = mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mix->cbSize >= 22;
        const bool floating = mix->wFormatTag == WAVE_FORMAT_IEEE_FLOAT
            || (extensible
                && reinterpret_cast<const WAVEFORMATEXTENSIBLE *>(mix)->SubFormat.Data1 == WAVE_FORMAT_IEEE_FLOAT);
        format.setSampleRate(int(mix->nSamplesPerSec));
        format.setChannelCount(mix->nChannels);
        format.setSampleFormat(floating ? QAudioFormat::Float
                                   : mix->wBitsPerSample == 32 ? QAudioFormat::Int32
                                   : mix->wBitsPerSample == 16 ? QAudioFormat::Int16
                                                               : QAudioFormat::Unknown);
    }
    CoTaskMemFree(mix);
    for (IUnknown *object : std::initializer_list<IUnknown *>{client, endpoint, devices})
        if (object)
            object->Release();
    return format;
}

// How far Windows' stream is filled ahead of what it plays: how long the tone that
// a new one cuts short goes on, and what a busy moment of the program may take.
constexpr int aheadMilliseconds = 100;
constexpr int silenceAfterMilliseconds = 250;
constexpr int leadInMilliseconds = 1000;

// Windows plays the tones on one stream, kept for the whole run, that reads them
// from here as it needs samples: a new tone takes the place of what is left of the
// one before, and between tones there is nothing to read, so the stream idles.
// (Qt's Windows stream, stopped and started again for each tone, plays only the first.)
class ToneSource : public QIODevice {
public:
    ToneSource() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    // Silence that the first tone follows rather than cuts short.
    void leadIn(const QByteArray &silence)
    {
        m_pcm = silence;
        m_read = 0;
        m_leadIn = true;
        emit readyRead();
    }

    void play(const QByteArray &pcm)
    {
        m_pcm = m_leadIn ? m_pcm.mid(m_read) + pcm : pcm;
        m_read = 0;
        m_leadIn = false;
        emit readyRead();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_pcm.size() - m_read; }

protected:
    qint64 readData(char *data, qint64 most) override
    {
        const qint64 count = std::min(most, bytesAvailable());
        std::memcpy(data, m_pcm.constData() + m_read, std::size_t(count));
        m_read += count;
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_pcm;
    qint64 m_read = 0;
    bool m_leadIn = false;
};
#endif

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
    // The stream goes before the source it reads.
    ~ToneOutput() override { delete m_sink; }

    void open()
    {
        static std::once_flag filterInstalled;
        std::call_once(filterInstalled, [] { nextHandler = qInstallMessageHandler(dropSoundServerWarnings); });
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
#ifdef Q_OS_WIN
        const QAudioFormat format = mixFormatOf(device);
#else
        QAudioFormat format = device.preferredFormat();
        // A sample type Qt cannot write (24-bit) the sound server converts from 16-bit.
        if (format.sampleFormat() == QAudioFormat::Unknown)
            format.setSampleFormat(QAudioFormat::Int16);
#endif
        if (device.isNull() || !format.isValid())
            return;
        for (std::size_t i = 0; i < tones.size(); ++i)
            m_pcm[i] = makeTone(tones[i], format);
#ifdef Q_OS_WIN
        // Silence after each tone keeps the stream running until the tone has been
        // heard: Qt stops it once Windows holds nothing more, and a sound server under
        // Wine may hold the tone's end back until the stream next starts.
        for (QByteArray &pcm : m_pcm)
            pcm.append(format.bytesForDuration(silenceAfterMilliseconds * 1000), '\0');
#else
        // The sound server starts a stream once it holds its prebuffer, which may be longer
        // than a short tone, left waiting then for the next: each tone is filled with
        // silence to the longest one's length, and the next tone cuts the silence short.
        for (QByteArray &pcm : m_pcm)
            pcm.append(m_pcm[std::size_t(ScanSound::Refused)].size() - pcm.size(), '\0');
#endif
        m_sink = new QAudioSink(device, format, this);
#ifdef Q_OS_WIN
        m_source = new ToneSource;
        m_source->setParent(this);
        m_sink->setBufferSize(format.bytesForDuration(aheadMilliseconds * 1000));
        m_sink->start(m_source);
        // Under Wine, a stream loses what it is given in its first second or so: a tone
        // asked for then (the low one of a file that fails at the start) is played after it.
        m_source->leadIn(QByteArray(format.bytesForDuration(leadInMilliseconds * 1000), '\0'));
        const bool started = m_sink->error() != QAudio::OpenError;
#else
        // A stream for each tone, which stopping it cuts short: a PulseAudio stream
        // kept open would hold a short tone back once it has been idle. Room for the
        // longest tone, so each one goes to the server in one write.
        m_sink->setBufferSize(m_pcm[std::size_t(ScanSound::Refused)].size());
        const bool started = m_sink->start() != nullptr;
        m_sink->stop();
#endif
        // A device may list a format that it then fails to start in.
        if (!started) {
            delete m_sink;
            m_sink = nullptr;
        }
    }

    void play(ScanSound sound)
    {
        if (!m_sink)
            return;
#ifdef Q_OS_WIN
        m_source->play(m_pcm[std::size_t(sound)]);
#else
        // Stopping drops what is left of the tone before.
        m_sink->stop();
        QIODevice *stream = m_sink->start();
        if (!stream)
            return;
        stream->write(m_pcm[std::size_t(sound)]);
#endif
    }

private:
    QAudioSink *m_sink = nullptr;
#ifdef Q_OS_WIN
    ToneSource *m_source = nullptr;
#endif
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
    m_output = new ToneOutput;
    m_output->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_output, &QObject::deleteLater);
    QMetaObject::invokeMethod(
        m_output, [output = m_output] { output->open(); }, Qt::QueuedConnection);
}

TonePlayer::~TonePlayer()
{
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
