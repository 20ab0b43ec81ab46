#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

inline const QString mainWindowTitle = QStringLiteral("Quillmarch::Main");
inline const QString errorBoxTitle = QStringLiteral("Quillmarch");

// A process of the test's: it dies with the test, even when the test is killed
// or aborts, and is stopped by its id when it goes. setup runs in it just before
// the program starts.
class Child : public QProcess {
public:
    Child(const QProcessEnvironment &environment, const QString &program, const QStringList &arguments,
          std::function<void()> setup = {})
    {
        setProcessEnvironment(environment);
        setChildProcessModifier([setup = std::move(setup)] {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (setup)
                setup();
        });
        start(program, arguments);
        if (!waitForStarted(10000))
            qFatal("cannot start %s: %s", qPrintable(program), qPrintable(errorString()));
    }
    ~Child() override
    {
        QProcess::kill();
        waitForFinished(5000);
    }

    // Waits for it to end by itself; true when it ended with exitCode.
    bool endedWith(int exitCode, int timeoutMs = 10000)
    {
        return (state() == NotRunning || waitForFinished(timeoutMs)) && exitStatus() == NormalExit
            && this->exitCode() == exitCode;
    }
};

// An X server of the test's own (Xvfb), on which the built program runs as the
// operator uses it, with real key events from xdotool.
class XServer {
public:
    XServer()
    {
        // Xvfb picks a free display and writes its number; without -noreset it resets
        // whenever its last client goes, and refuses the program started next meanwhile.
        m_xvfb.emplace(QProcessEnvironment::systemEnvironment(), "Xvfb",
                       QStringList{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
        QByteArray number;
        while (!number.endsWith('\n') && m_xvfb->waitForReadyRead(20000))
            number += m_xvfb->readAllStandardOutput();
        if (!number.endsWith('\n'))
            qFatal("Xvfb did not start: %s", m_xvfb->readAllStandardError().constData());
        m_display = ':' + QString::fromLatin1(number.trimmed());
    }

    // The environment that puts a program on this server, with no session bus and
    // no sound server but those a test starts at busSocket() and soundSocket().
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", m_display);
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("XDG_RUNTIME_DIR", m_runtimeDir.path());
        // Without an address libdbus would start a bus (dbus-launch) that outlives the
        // test, or leak its failed start into a sanitized build's exit; without a named
        // sound server libpulse would look for the user's own.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busSocket());
        environment.insert("PULSE_SERVER", "unix:" + soundSocket());
        return environment;
    }
    QString busSocket() const { return m_runtimeDir.filePath("bus"); }
    QString soundSocket() const { return m_runtimeDir.filePath("pulse-native"); }

    // Runs xdotool to its end and returns its exit code; the test stops when it hangs.
    int xdotool(const QStringList &arguments) const
    {
        Child tool(environment(), "xdotool", arguments);
        if (!tool.waitForFinished(30000))
            qFatal("xdotool %s did not end", qPrintable(arguments.join(' ')));
        return tool.exitCode();
    }

private:
    QTemporaryDir m_runtimeDir;
    std::optional<Child> m_xvfb;
    QString m_display;
};

// xdotool's arguments for scanning labels: each label's text and its closing
// Enter, at scanner speed (no pause between keys) or keyDelayMs apart.
inline QStringList scanArguments(const QStringList &labels, int keyDelayMs = 0)
{
    const QString delay = QString::number(keyDelayMs);
    QStringList arguments;
    for (const QString &label : labels)
        arguments += {"type", "--args", "1", "--delay", delay, label, "key", "--delay", delay, "Return"};
    return arguments;
}

// The built program, copied into a folder beside its stock.mdb and started there
// on an X server, without the environment variables named in unset. childSetup
// runs in its process just before it starts.
class ProgramRun {
public:
    ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup = {},
               const QStringList &arguments = {}, const QStringList &unset = {})
        : m_server(server)
    {
        QProcessEnvironment environment = server.environment();
        for (const QString &name : unset)
            environment.remove(name);
        // Started in the folder as from a shell: its name is taken byte for byte, whatever its encoding.
        const std::filesystem::path program = std::filesystem::path(folder) / "quillmarch";
        if (!std::filesystem::exists(program))
            std::filesystem::copy_file(QUILLMARCH_PROGRAM, program);
        m_process.emplace(environment, "./quillmarch", arguments, [folder, childSetup = std::move(childSetup)] {
            if (chdir(folder.c_str()) != 0)
                _exit(127);
            if (childSetup)
                childSetup();
        });
    }

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
    // Waits for this program's visible window of that title and gives it the keyboard,
    // as a window manager would; false when it did not show.
    bool focus(const QString &title = mainWindowTitle) const
    {
        return QTest::qWaitFor([&] { return m_server.xdotool(windowsTitled(title)) == 0; }, 10000)
            && m_server.xdotool(windowsTitled(title) + QStringList{"windowraise", "windowfocus", "--sync"}) == 0;
    }
    // Waits until it shows no window of that title; false when one stays.
    bool gone(const QString &title) const
    {
        return QTest::qWaitFor([&] { return m_server.xdotool(windowsTitled(title)) == 1; }, 10000);
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
    bool waitForExit(int exitCode, int timeoutMs = 10000) { return m_process->endedWith(exitCode, timeoutMs); }

private:
    // xdotool's arguments for the visible windows of this program with exactly this
    // title; it ends with 1 when there is none.
    QStringList windowsTitled(const QString &title) const
    {
        const QString pattern = '^' + QRegularExpression::escape(title) + '$';
        return {"search", "--all", "--onlyvisible", "--pid", QString::number(m_process->processId()),
                "--name", pattern};
    }

    const XServer &m_server;
    std::optional<Child> m_process;
    QString m_errorOutput;
};

// A PulseAudio server with only a null sink, whose monitor it records from the start.
class SoundServer {
public:
    static constexpr int recordingRate = 48000;

    explicit SoundServer(const XServer &server)
    {
        // Its cookie, configuration and runtime files in the X server's runtime folder.
        QProcessEnvironment environment = server.environment();
        environment.remove("DISPLAY");
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
            environment.insert(name, environment.value("XDG_RUNTIME_DIR"));
        // Anonymous clients: the program finds no cookie of this server's.
        m_server.emplace(
            environment, "pulseaudio",
            QStringList{"--daemonize=no", "--system=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
                        "--log-level=error", "--log-target=stderr",
                        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + server.soundSocket(),
                        "--load=module-null-sink sink_name=counting"});
        // Answering, not merely listening: a client that comes too early gives up.
        if (!QTest::qWaitFor([&] { return Child(environment, "pactl", {"info"}).endedWith(0); }, 20000))
            qFatal("pulseaudio does not answer");
        m_recorder.emplace(environment, "parec",
                           QStringList{"--device=counting.monitor", "--raw", "--format=s16le", "--channels=1",
                                       QStringLiteral("--rate=%1").arg(recordingRate), "--latency-msec=20"});
    }

    // Everything played since the start: 16-bit mono samples at recordingRate.
    QByteArray recording()
    {
        m_recorder->waitForReadyRead(0);
        m_recording += m_recorder->readAllStandardOutput();
        if (m_recorder->state() == QProcess::NotRunning)
            qFatal("parec ended: status %d", m_recorder->exitCode());
        return m_recording;
    }
    // Stops the server where it stands, as a hung one, or lets it go on.
    void stall(bool stalled) { ::kill(pid_t(m_server->processId()), stalled ? SIGSTOP : SIGCONT); }

private:
    std::optional<Child> m_server;
    std::optional<Child> m_recorder;
    QByteArray m_recording;
};
