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
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

inline const QString mainWindowTitle = QStringLiteral("Quillmarch::Main");
inline const QString errorBoxTitle = QStringLiteral("Quillmarch");

// A process of the test's: it dies with the test, even when the test is killed
// or aborts, and is killed by its id when it goes. It starts with its standard
// streams alone, as from a shell, and none of the descriptors the test or CTest
// holds; setup runs in it just before the program starts.
class Child : public QProcess {
public:
    Child(const QString &program, const QStringList &arguments, std::function<void()> setup = {})
    {
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
    ~Child() override { kill(); }

    // Ends it at once, as a power cut or kill -9 does.
    void kill()
    {
        QProcess::kill();
        waitForFinished(5000);
    }
};

// Runs xdotool to its end and returns its exit code; -1 when it hangs.
inline int xdotool(const QStringList &arguments)
{
    Child tool("xdotool", arguments);
    return tool.waitForFinished(30000) ? tool.exitCode() : -1;
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
// test's environment for it, as env(1) takes them: NAME=value sets a variable,
// -u NAME removes it.
class ProgramRun : public Child {
public:
    ProgramRun(const std::string &folder, std::function<void()> childSetup = {}, const QStringList &arguments = {},
               const QStringList &environment = {})
        : Child("env", environment + QStringList(copiedInto(folder)) + arguments,
                [folder, childSetup = std::move(childSetup)] {
                    // Elsewhere, ./quillmarch is not found.
                    if (chdir(folder.c_str()) == 0 && childSetup)
                        childSetup();
                })
    {
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
    // What the program wrote so far.
    QString errorOutput() { return m_errorOutput += QString::fromUtf8(readAllStandardError()); }
    // Waits for the program to end by itself; true when it ended with status.
    bool waitForExit(int status, int timeoutMs = 20000)
    {
        return (state() == NotRunning || waitForFinished(timeoutMs)) && exitStatus() == NormalExit
            && exitCode() == status;
    }

private:
    // Copies the built program into the folder, to be started there as from a shell:
    // the folder's name is taken byte for byte, whatever its encoding.
    static QString copiedInto(const std::string &folder)
    {
        std::filesystem::copy_file(QUILLMARCH_PROGRAM, std::filesystem::path(folder) / "quillmarch",
                                   std::filesystem::copy_options::skip_existing);
        return "./quillmarch";
    }
    // xdotool's arguments for the visible windows of this program with exactly this
    // title; it ends with 1 when there is none.
    QStringList windowsTitled(const QString &title) const
    {
        return QStringList{"search", "--all", "--onlyvisible", "--pid", QString::number(processId())}
        + QStringList{"--name", '^' + QRegularExpression::escape(title) + '$'};
    }

    QString m_errorOutput;
};

// What the desktop's sound server plays into its sink from now on, recorded from the sink's monitor.
class SoundRecording {
public:
    static constexpr int rate = 48000;

    // What was played since the last call and for milliseconds more: 16-bit mono samples at rate.
    QByteArray next(int milliseconds)
    {
        const auto recorded = [this] {
            m_recorder.waitForReadyRead(0);
            return (m_recording += m_recorder.readAllStandardOutput()).size();
        };
        const qsizetype until = recorded() + rate * milliseconds / 1000 * 2;
        if (!QTest::qWaitFor([&] { return recorded() >= until; }, 10000))
            qFatal("the sound server recorded nothing");
        return std::exchange(m_recording, {});
    }
    // Stops the sound server where it stands, as a hung one, or lets it go on.
    static void stall(bool stalled)
    {
        QFile pid(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/pid");
        if (!pid.open(QIODevice::ReadOnly) || ::kill(pid.readAll().trimmed().toInt(), stalled ? SIGSTOP : SIGCONT))
            qFatal("the sound server could not be stalled or resumed");
    }

private:
    Child m_recorder{"parec",
                     {"--device=counting.monitor", "--raw", "--format=s16le", "--channels=1",
                      QStringLiteral("--rate=%1").arg(rate), "--latency-msec=20"}};
    QByteArray m_recording; // since the last call
};
