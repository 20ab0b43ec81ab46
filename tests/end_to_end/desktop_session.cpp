#include "desktop_session.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// A child of the test dies with it, even when the test itself is killed or aborts.
void dieWithTheTest(QProcess &process, std::function<void()> childSetup = {})
{
    process.setChildProcessModifier([childSetup = std::move(childSetup)] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (childSetup)
            childSetup();
    });
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

// Asks again, with a short pause between, until the answer is yes or 10 s are up.
template<typename Ask>
bool askUntil(Ask ask)
{
    const QDeadlineTimer deadline(10000);
    while (!ask()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

XServer::XServer()
{
    // Xvfb picks a free display and writes its number; without -noreset it resets
    // whenever its last client goes, and refuses the program started next meanwhile.
    dieWithTheTest(m_xvfb);
    m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    QByteArray number;
    while (!number.endsWith('\n') && m_xvfb.waitForReadyRead(20000))
        number += m_xvfb.readAllStandardOutput();
    if (!number.endsWith('\n'))
        qFatal("Xvfb did not start: %s", m_xvfb.readAllStandardError().constData());
    m_display = ':' + QString::fromLatin1(number.trimmed());
}

XServer::~XServer()
{
    stop(m_xvfb);
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

QString XServer::xdotool(const QStringList &arguments, int *exitCode) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    dieWithTheTest(tool);
    tool.start("xdotool", arguments);
    if (!tool.waitForFinished(30000))
        qFatal("xdotool %s did not end", qPrintable(arguments.join(' ')));
    if (exitCode)
        *exitCode = tool.exitCode();
    else if (tool.exitCode() != 0)
        qFatal("xdotool %s failed: %s", qPrintable(arguments.join(' ')), tool.readAllStandardError().constData());
    return QString::fromUtf8(tool.readAllStandardOutput());
}

std::unique_ptr<QProcess> XServer::startXdotool(const QStringList &arguments) const
{
    auto tool = std::make_unique<QProcess>();
    tool->setProcessEnvironment(environment());
    dieWithTheTest(*tool);
    tool->start("xdotool", arguments);
    return tool;
}

bool XServer::shows(const QString &title) const
{
    // xdotool ends with 1 when no window matches.
    int exitCode = 0;
    xdotool({"search", "--onlyvisible", "--name", '^' + QRegularExpression::escape(title) + '$'}, &exitCode);
    return exitCode == 0;
}

bool XServer::focusWindow(const QString &title) const
{
    if (!askUntil([&] { return shows(title); }))
        return false;
    xdotool({"search", "--onlyvisible", "--name", '^' + QRegularExpression::escape(title) + '$', "windowfocus",
             "--sync"});
    return true;
}

QStringList scanArguments(const QStringList &labels)
{
    QStringList arguments;
    for (const QString &label : labels)
        arguments << "type" << "--args" << "1" << "--delay" << "0" << label << "key" << "--delay" << "0" << "Return";
    return arguments;
}

ProgramRun::ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup,
                       const QStringList &arguments)
    : m_server(server)
{
    // Started in the folder as from a shell: its name is taken byte for byte, whatever its encoding.
    const std::filesystem::path program = std::filesystem::path(folder) / "quillmarch";
    std::error_code error;
    if (!std::filesystem::exists(program) && !std::filesystem::copy_file(QUILLMARCH_PROGRAM, program, error))
        qFatal("cannot copy the program to %s: %s", program.c_str(), error.message().c_str());
    m_process.setProcessEnvironment(server.environment());
    dieWithTheTest(m_process, [folder, childSetup = std::move(childSetup)] {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        if (childSetup)
            childSetup();
    });
    m_process.start("./quillmarch", arguments);
    if (!m_process.waitForStarted(10000))
        qFatal("cannot start %s: %s", program.c_str(), qPrintable(m_process.errorString()));
}

bool ProgramRun::closeErrorBox() const
{
    if (!m_server.focusWindow(errorBoxTitle))
        return false;
    press("Escape");
    return true;
}

void ProgramRun::kill()
{
    stop(m_process);
}

bool ProgramRun::waitForExit(int exitCode, int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == exitCode;
}

SoundServer::SoundServer(const XServer &server)
{
    // Its cookie, configuration and runtime files in a folder of its own, and no session bus.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"})
        environment.insert(name, m_home.path());
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_home.filePath("no-bus"));
    environment.insert("PULSE_SERVER", "unix:" + server.soundSocket());
    for (QProcess *process : {&m_server, &m_recorder}) {
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        dieWithTheTest(*process);
    }
    // Anonymous clients: the program finds no cookie of this server's.
    m_server.start("pulseaudio", {"--daemonize=no", "--system=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
                                  "--log-level=error", "--log-target=stderr",
                                  "--load=module-native-protocol-unix auth-anonymous=1 socket=" + server.soundSocket(),
                                  "--load=module-null-sink sink_name=counting"});
    if (!askUntil([&] { return QFile::exists(server.soundSocket()); }))
        qFatal("pulseaudio made no socket");
    m_recorder.start("parec", {"--device=counting.monitor", "--raw", "--format=s16le", "--channels=1",
                               QStringLiteral("--rate=%1").arg(recordingRate), "--latency-msec=20"});
    if (!m_recorder.waitForStarted(10000))
        qFatal("parec did not start: %s", qPrintable(m_recorder.errorString()));
}

SoundServer::~SoundServer()
{
    stop(m_recorder);
    stop(m_server);
}

QByteArray SoundServer::recording()
{
    m_recorder.waitForReadyRead(0);
    m_recording += m_recorder.readAllStandardOutput();
    if (m_recorder.state() == QProcess::NotRunning)
        qFatal("parec ended: status %d", m_recorder.exitCode());
    return m_recording;
}
