#include "desktop_session.h"

#include <QFile>
#include <QRegularExpression>
#include <QtCore/qtestsupport_core.h>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <unistd.h>

Child::Child(const QProcessEnvironment &environment, const QString &program, const QStringList &arguments,
             std::function<void()> setup)
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

Child::~Child()
{
    QProcess::kill();
    waitForFinished(5000);
}

XServer::XServer()
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

QProcessEnvironment XServer::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("XDG_RUNTIME_DIR", m_runtimeDir.path());
    // Without an address libdbus would start a bus (dbus-launch) that outlives the
    // test, or leak its failed start into a sanitized build's exit; without a named
    // sound server libpulse would look for the user's own.
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_runtimeDir.filePath("no-bus"));
    environment.insert("PULSE_SERVER", "unix:" + soundSocket());
    return environment;
}

int XServer::xdotool(const QStringList &arguments) const
{
    Child tool(environment(), "xdotool", arguments);
    if (!tool.waitForFinished(30000))
        qFatal("xdotool %s did not end", qPrintable(arguments.join(' ')));
    return tool.exitCode();
}

bool XServer::focusWindow(const QString &title) const
{
    // xdotool ends with 1 when no window matches.
    const QStringList search{"search", "--onlyvisible", "--name", '^' + QRegularExpression::escape(title) + '$'};
    return QTest::qWaitFor([&] { return xdotool(search) == 0; }, 10000)
        && xdotool(search + QStringList{"windowfocus", "--sync"}) == 0;
}

QStringList scanArguments(const QStringList &labels)
{
    QStringList arguments;
    for (const QString &label : labels)
        arguments << "type"
                  << "--args"
                  << "1"
                  << "--delay"
                  << "0" << label << "key"
                  << "--delay"
                  << "0"
                  << "Return";
    return arguments;
}

ProgramRun::ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup,
                       const QStringList &arguments)
    : m_server(server)
{
    // Started in the folder as from a shell: its name is taken byte for byte, whatever its encoding.
    const std::filesystem::path program = std::filesystem::path(folder) / "quillmarch";
    if (!std::filesystem::exists(program))
        std::filesystem::copy_file(QUILLMARCH_PROGRAM, program);
    m_process.emplace(server.environment(), "./quillmarch", arguments, [folder, childSetup = std::move(childSetup)] {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        if (childSetup)
            childSetup();
    });
}

bool ProgramRun::waitForExit(int exitCode, int timeoutMs)
{
    if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(timeoutMs))
        return false;
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == exitCode;
}

SoundServer::SoundServer(const XServer &server)
{
    // Its cookie, configuration and runtime files in the X server's runtime folder.
    QProcessEnvironment environment = server.environment();
    environment.remove("DISPLAY");
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
        environment.insert(name, environment.value("XDG_RUNTIME_DIR"));
    // Anonymous clients: the program finds no cookie of this server's.
    m_server.emplace(environment, "pulseaudio",
                     QStringList{"--daemonize=no", "--system=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
                                 "--log-level=error", "--log-target=stderr",
                                 "--load=module-native-protocol-unix auth-anonymous=1 socket=" + server.soundSocket(),
                                 "--load=module-null-sink sink_name=counting"});
    if (!QTest::qWaitFor([&] { return QFile::exists(server.soundSocket()); }, 10000))
        qFatal("pulseaudio made no socket");
    m_recorder.emplace(environment, "parec",
                       QStringList{"--device=counting.monitor", "--raw", "--format=s16le", "--channels=1",
                                   QStringLiteral("--rate=%1").arg(recordingRate), "--latency-msec=20"});
}

QByteArray SoundServer::recording()
{
    m_recorder->waitForReadyRead(0);
    m_recording += m_recorder->readAllStandardOutput();
    if (m_recorder->state() == QProcess::NotRunning)
        qFatal("parec ended: status %d", m_recorder->exitCode());
    return m_recording;
}
