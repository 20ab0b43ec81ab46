#pragma once

// The end-to-end tests run on a desktop of their own, which end_to_end/desktop.sh
// starts around them: an X server, a session bus and a sound server, whose addresses
// they and the programs they start inherit. The built program is started there as
// the operator starts it and driven with real key events from xdotool.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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
// or aborts, and is stopped by its id when it goes. It starts with its standard
// streams alone, as from a shell, and none of the descriptors the test or CTest
// holds; setup runs in it just before the program starts.
class Child : public QProcess {
public:
    Child(const QString &program, const QStringList &arguments, std::function<void()> setup = {},
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        setProcessEnvironment(environment);
        setChildProcessModifier([setup = std::move(setup)] {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close_range(STDERR_FILENO + 1, ~0U, 0);
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

// Runs xdotool to its end and returns its exit code; the test stops when it hangs.
inline int xdotool(const QStringList &arguments)
{
    Child tool("xdotool", arguments);
    if (!tool.waitForFinished(30000))
        qFatal("xdotool %s did not end", qPrintable(arguments.join(' ')));
    return tool.exitCode();
}

// xdotool's arguments for scanning labels at scanner speed: each label's text and
// its closing Enter, with no pause between keys.
inline QStringList scanArguments(const QStringList &labels)
{
    QStringList arguments;
    for (const QString &label : labels)
        arguments += {"type", "--args", "1", "--delay", "0", label, "key", "--delay", "0", "Return"};
    return arguments;
}

// The built program, copied into a folder beside its stock.mdb and started there.
// childSetup runs in its process just before it starts; environment changes the
// test's environment for it: NAME=value sets a variable, NAME alone removes it.
class ProgramRun {
public:
    ProgramRun(const std::string &folder, std::function<void()> childSetup = {}, const QStringList &arguments = {},
               const QStringList &environment = {})
    {
        QProcessEnvironment changed = QProcessEnvironment::systemEnvironment();
        for (const QString &change : environment) {
            const qsizetype equals = change.indexOf('=');
            if (equals < 0)
                changed.remove(change);
            else
                changed.insert(change.left(equals), change.mid(equals + 1));
        }
        // Started in the folder as from a shell: its name is taken byte for byte, whatever its encoding.
        const std::filesystem::path program = std::filesystem::path(folder) / "quillmarch";
        if (!std::filesystem::exists(program))
            std::filesystem::copy_file(QUILLMARCH_PROGRAM, program);
        m_process.emplace(
            "./quillmarch", arguments,
            [folder, childSetup = std::move(childSetup)] {
                if (chdir(folder.c_str()) != 0)
                    _exit(127);
                if (childSetup)
                    childSetup();
            },
            changed);
    }

    // Scans labels into the window with the keyboard focus, or presses keys by their X
    // names, separated by spaces.
    void scan(const QStringList &labels) const { xdotool(scanArguments(labels)); }
    void press(const QString &keys) const { xdotool(QStringList{"key", "--delay", "0"} + keys.split(' ')); }
    // Waits for this program's visible window of that title and gives it the keyboard,
    // as a window manager would; false when it did not show.
    bool focus(const QString &title = mainWindowTitle) const
    {
        return QTest::qWaitFor([&] { return xdotool(windowsTitled(title)) == 0; }, 20000)
            && xdotool(windowsTitled(title) + QStringList{"windowraise", "windowfocus", "--sync"}) == 0;
    }
    // Waits until it shows no window of that title; false when one stays.
    bool gone(const QString &title) const
    {
        return QTest::qWaitFor([&] { return xdotool(windowsTitled(title)) == 1; }, 20000);
    }
    // Waits for the box that reports a failure, or tells of a record changed
    // elsewhere, and closes it with Esc; true when it showed.
    bool closeErrorBox() const { return focus(errorBoxTitle) && xdotool({"key", "Escape"}) == 0; }
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
    bool waitForExit(int exitCode, int timeoutMs = 20000) { return m_process->endedWith(exitCode, timeoutMs); }

private:
    // xdotool's arguments for the visible windows of this program with exactly this
    // title; it ends with 1 when there is none.
    QStringList windowsTitled(const QString &title) const
    {
        const QString pattern = '^' + QRegularExpression::escape(title) + '$';
        return {"search", "--all", "--onlyvisible", "--pid", QString::number(m_process->processId()),
                "--name", pattern};
    }

    std::optional<Child> m_process;
    QString m_errorOutput;
};

// What the desktop's sound server plays into its sink from now on, recorded from the sink's monitor.
class SoundRecording {
public:
    static constexpr int rate = 48000;

    // Everything played since the start: 16-bit mono samples at rate.
    QByteArray recording()
    {
        m_recorder.waitForReadyRead(0);
        m_recording += m_recorder.readAllStandardOutput();
        if (m_recorder.state() == QProcess::NotRunning)
            qFatal("parec ended: status %d", m_recorder.exitCode());
        return m_recording;
    }
    // Stops the sound server where it stands, as a hung one, or lets it go on.
    static void stall(bool stalled)
    {
        QFile pid(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/pid");
        if (!pid.open(QIODevice::ReadOnly))
            qFatal("the sound server wrote no pid file");
        ::kill(pid_t(pid.readAll().trimmed().toInt()), stalled ? SIGSTOP : SIGCONT);
    }

private:
    Child m_recorder{"parec",
                     {"--device=counting.monitor", "--raw", "--format=s16le", "--channels=1",
                      QStringLiteral("--rate=%1").arg(rate), "--latency-msec=20"}};
    QByteArray m_recording;
};
