#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <string>

inline const QString mainWindowTitle = QStringLiteral("Quillmarch::Main");
inline const QString errorBoxTitle = QStringLiteral("Quillmarch");

// A process of the test's: it dies with the test, even when the test is killed
// or aborts, and is stopped by its id when it goes. setup runs in it just before
// the program starts.
class Child : public QProcess {
public:
    Child(const QProcessEnvironment &environment, const QString &program, const QStringList &arguments,
          std::function<void()> setup = {});
    ~Child() override;
};

// An X server of the test's own (Xvfb), on which the built program runs as the
// operator uses it, with real key events from xdotool.
class XServer {
public:
    XServer();

    // The environment that puts a program on this server, with no session bus and
    // no sound server but those a ScreenReader and a SoundServer start at busSocket()
    // and soundSocket().
    QProcessEnvironment environment() const;
    QString busSocket() const { return m_runtimeDir.filePath("bus"); }
    QString soundSocket() const { return m_runtimeDir.filePath("pulse-native"); }

    // Runs xdotool to its end and returns its exit code; the test stops when it hangs.
    int xdotool(const QStringList &arguments) const;
    // Waits for the visible window with exactly this title, of the process pid
    // when given, and gives it the keyboard, as a window manager would; false when
    // it did not show.
    bool focusWindow(const QString &title, qint64 pid = 0) const;
    // Waits until no visible window has exactly this title; false when one stays.
    bool windowGone(const QString &title) const;

private:
    QTemporaryDir m_runtimeDir;
    std::optional<Child> m_xvfb;
    QString m_display;
};

// xdotool's arguments for scanning labels: each label's text and its closing
// Enter, at scanner speed (no pause between keys) or keyDelayMs apart.
QStringList scanArguments(const QStringList &labels, int keyDelayMs = 0);

// The built program, copied into a folder beside its stock.mdb and started there
// on an X server, without the environment variables named in unset. childSetup
// runs in its process just before it starts.
class ProgramRun {
public:
    ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup = {},
               const QStringList &arguments = {}, const QStringList &unset = {});

    // Scans labels into the window with the keyboard focus, or presses keys by their X
    // names, separated by spaces; keyDelayMs apart.
    void scan(const QStringList &labels, int keyDelayMs = 0) const
    {
        m_server.xdotool(scanArguments(labels, keyDelayMs));
    }
    void press(const QString &keys, int keyDelayMs = 0) const
    {
        m_server.xdotool(QStringList{"key", "--delay", QString::number(keyDelayMs)} + keys.split(' '));
    }
    // Gives this program's window of that title the keyboard; false when it did not show.
    bool focus(const QString &title = mainWindowTitle) const
    {
        return m_server.focusWindow(title, m_process->processId());
    }
    // Waits for the box that reports a failure, or tells of a record changed
    // elsewhere, and closes it with Esc; true when it showed.
    bool closeErrorBox() const { return focus(errorBoxTitle) && m_server.xdotool({"key", "Escape"}) == 0; }
    // Ends the program at once, as a power cut or kill -9 does.
    void kill()
    {
        m_process->kill();
        m_process->waitForFinished();
    }
    // What the program wrote so far.
    QString output() { return QString::fromUtf8(m_process->readAllStandardOutput()); }
    QString errorOutput() { return m_errorOutput += QString::fromUtf8(m_process->readAllStandardError()); }
    // Waits for the program to end by itself; true when it ended with exitCode.
    bool waitForExit(int exitCode, int timeoutMs = 10000);

private:
    const XServer &m_server;
    std::optional<Child> m_process;
    QString m_errorOutput;
};

// A PulseAudio server with only a null sink, whose monitor it records from the start.
class SoundServer {
public:
    explicit SoundServer(const XServer &server);

    static constexpr int recordingRate = 48000;
    // Everything played since the start: 16-bit mono samples at recordingRate.
    QByteArray recording();
    // Stops the server where it stands, as a hung one, or lets it go on.
    void stall(bool stalled);

private:
    std::optional<Child> m_server;
    std::optional<Child> m_recorder;
    QByteArray m_recording;
};

// Orca, the screen reader, on an X server whose SoundServer answers, with a
// session bus of its own. It speaks through speech-dispatcher, whose generic
// module writes each utterance as one line into a file instead of sounding it.
// Braille and the echo of every key are off, so that what is heard is what the
// screen reader says of the program.
class ScreenReader {
public:
    explicit ScreenReader(const XServer &server);

    // Waits until the utterances are heard, in this order, after the last ones
    // waited for (others may come between them); true when they were.
    bool hear(const QStringList &utterances);
    // What was heard from the end of the wait before the last to the end of the last.
    const QStringList &lastHeard() const { return m_lastHeard; }
    // Everything heard so far, for a failure's message; Orca's own log is then
    // copied into the working folder.
    QString transcript() const;

private:
    QStringList heard() const;

    QTemporaryDir m_dir;
    std::optional<Child> m_bus;
    std::optional<Child> m_speech;
    std::optional<Child> m_orca;
    qsizetype m_waitedFor = 0; // the utterances heard up to the end of the last wait
    QStringList m_lastHeard;
};
