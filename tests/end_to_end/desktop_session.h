#pragma once

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

// An X server of the test's own (Xvfb), on which the built program runs as the
// operator uses it: real key events from xdotool, real mouse clicks. Every
// process started here is stopped by its id when its owner goes.
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // The environment that puts a program on this server.
    QProcessEnvironment environment() const;

    // Runs xdotool to its end and returns what it printed; the test stops
    // when xdotool fails or hangs.
    QString xdotool(const QStringList &arguments) const;
    // Starts xdotool without waiting for it, for a burst that something else interrupts.
    std::unique_ptr<QProcess> startXdotool(const QStringList &arguments) const;

    // The visible window with exactly this title, or 0 when there is none.
    qulonglong findWindow(const QString &title) const;
    // Waits for the window with exactly this title; 0 when it did not show.
    qulonglong waitForWindow(const QString &title, int timeoutMs = 10000) const;
    // Waits for the window with exactly this title and gives it the keyboard, as a
    // window manager would when it shows or when the window above it goes; 0 when
    // it did not show.
    qulonglong focusWindow(const QString &title, int timeoutMs = 10000) const;
    // Waits until no window with exactly this title shows; false when one still does.
    bool waitUntilGone(const QString &title, int timeoutMs = 10000) const;
    QPoint windowOrigin(qulonglong window) const;

    // Where programs on this server look for their sound server: nowhere, until a
    // SoundServer is started there.
    QString soundSocket() const;

private:
    QProcess m_xvfb;
    QString m_display;
    QTemporaryDir m_runtimeDir;
};

// xdotool's arguments for scanning labels at scanner speed: each label's text
// and its closing Enter, with no pause between keys.
QStringList scanArguments(const QStringList &labels);

// The built program, copied with a stock folder's stock.mdb beside it and
// running on an X server. Killed when it goes, if it has not ended.
class ProgramRun {
public:
    // folder is the file system's name, byte for byte. childSetup runs in the
    // program's process just before it starts, to lower a limit for instance.
    ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup = {},
               const QStringList &arguments = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    // Waits for the main window, gives it the keyboard and returns whether it showed.
    bool waitUntilShown();

    // Scans labels into the window with the keyboard focus, waiting until xdotool sent them.
    void scan(const QStringList &labels) const;
    // Types text into the window with the keyboard focus, without an Enter.
    void type(const QString &text) const;
    // Presses keys, by their X names ("Return", "Escape", "ctrl+c").
    void press(const QString &keys) const;
    // Clicks at a point of a window given in the window's own pixels.
    void click(qulonglong window, QPoint point, int clicks = 1) const;

    // Waits for the box that reports a failure, reads it and closes it with Esc
    // as the operator would; true when it showed.
    bool closeErrorBox() const;

    qint64 pid() const { return m_process.processId(); }
    // What the program wrote to its standard error so far.
    QString errorOutput();
    // The text of the program's report of error code on its standard error
    // ("quillmarch: Error <code>: <text>"); a null string when it made no such report.
    QString reportedError(int code);
    void kill();
    // Waits for the program to end by itself; true when it ended with exitCode.
    bool waitForExit(int exitCode, int timeoutMs = 10000);

private:
    const XServer &m_server;
    QProcess m_process;
    QString m_errorOutput;
};

// A PulseAudio server of the test's own for the programs on an X server, with
// nothing but a null sink, whose monitor it records from the start. Its files
// stay in a folder of its own. Stopped by its id when it goes.
class SoundServer {
public:
    explicit SoundServer(const XServer &server);
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    static constexpr int recordingRate = 48000;
    // Everything played since the start: 16-bit mono samples at recordingRate.
    QByteArray recording();

private:
    QTemporaryDir m_home;
    QProcess m_server;
    QProcess m_recorder;
    QByteArray m_recording;
};

// What the built program answered when started with arguments and without any
// display: it has to end by itself.
struct ProgramAnswer {
    int exitCode;
    QString output;
    QString errors;
};
ProgramAnswer runWithoutDisplay(const QStringList &arguments);

// The title of the main window and of the box that reports a failure.
inline const QString mainWindowTitle = QStringLiteral("Quillmarch::Main");
inline const QString errorBoxTitle = QStringLiteral("Quillmarch");
