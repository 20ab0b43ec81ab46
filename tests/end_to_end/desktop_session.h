#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

// An X server of the test's own (Xvfb), on which the built program runs as the
// operator uses it, with real key events from xdotool. Every process started
// here dies with the test and is stopped by its id when its owner goes.
class XServer {
public:
    XServer();
    ~XServer();

    // The environment that puts a program on this server, with no session bus and
    // no sound server but the one a SoundServer starts at soundSocket().
    QProcessEnvironment environment() const;
    QString soundSocket() const { return m_runtimeDir.filePath("pulse-native"); }

    // Runs xdotool to its end; the test stops when it hangs.
    QString xdotool(const QStringList &arguments, int *exitCode = nullptr) const;
    // Starts xdotool without waiting for it, for a burst that something else interrupts.
    std::unique_ptr<QProcess> startXdotool(const QStringList &arguments) const;
    // Whether the window with exactly this title shows.
    bool shows(const QString &title) const;
    // Waits for the window with exactly this title and gives it the keyboard, as a
    // window manager would; false when it did not show.
    bool focusWindow(const QString &title) const;

private:
    QProcess m_xvfb;
    QString m_display;
    QTemporaryDir m_runtimeDir;
};

// xdotool's arguments for scanning labels at scanner speed: each label's text
// and its closing Enter, with no pause between keys.
QStringList scanArguments(const QStringList &labels);

// The built program, copied into a folder beside its stock.mdb and started there
// on an X server. childSetup runs in its process just before it starts.
class ProgramRun {
public:
    ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup = {},
               const QStringList &arguments = {});
    ~ProgramRun() { kill(); }

    // Scans labels into the window with the keyboard focus, or presses keys by their X
    // names, separated by spaces.
    void scan(const QStringList &labels) const { m_server.xdotool(scanArguments(labels)); }
    void press(const QString &keys) const { m_server.xdotool(QStringList{"key", "--delay", "0"} + keys.split(' ')); }
    // Waits for the box that reports a failure and closes it with Esc; true when it showed.
    bool closeErrorBox() const;
    // What the program wrote so far.
    QString output() { return QString::fromUtf8(m_process.readAllStandardOutput()); }
    QString errorOutput() { return m_errorOutput += QString::fromUtf8(m_process.readAllStandardError()); }
    void kill();
    // Waits for the program to end by itself; true when it ended with exitCode.
    bool waitForExit(int exitCode, int timeoutMs = 10000);

private:
    const XServer &m_server;
    QProcess m_process;
    QString m_errorOutput;
};

// A PulseAudio server with only a null sink, whose monitor it records from the start.
class SoundServer {
public:
    explicit SoundServer(const XServer &server);
    ~SoundServer();

    static constexpr int recordingRate = 48000;
    // Everything played since the start: 16-bit mono samples at recordingRate.
    QByteArray recording();

private:
    QTemporaryDir m_home;
    QProcess m_server;
    QProcess m_recorder;
    QByteArray m_recording;
};

inline const QString mainWindowTitle = QStringLiteral("Quillmarch::Main");
inline const QString errorBoxTitle = QStringLiteral("Quillmarch");
