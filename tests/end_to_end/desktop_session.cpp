#include "desktop_session.h"

#include <QDeadlineTimer>
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

// Runs a tool of the X server's to its end; the test cannot go on when it hangs.
QByteArray runTool(const QProcessEnvironment &environment, const QString &program, const QStringList &arguments,
                   int *exitCode = nullptr)
{
    QProcess tool;
    tool.setProcessEnvironment(environment);
    dieWithTheTest(tool);
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000)) {
        stop(tool);
        qFatal("%s %s did not end", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))));
    }
    if (exitCode)
        *exitCode = tool.exitCode();
    else if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("%s %s failed: %s", qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))),
               tool.readAllStandardError().constData());
    return tool.readAllStandardOutput();
}

// Asks again, with a short pause between, until the answer is yes or the time is
// up; returns the last answer.
template <typename Ask>
auto askUntil(int timeoutMs, Ask ask)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const auto answer = ask();
        if (answer || deadline.hasExpired())
            return answer;
        QThread::msleep(20);
    }
}

} // namespace

XServer::XServer()
{
    // Xvfb picks a free display itself and writes its number to standard output.
    // Without -noreset it resets whenever its last client goes, and refuses the
    // program started next while it does.
    dieWithTheTest(m_xvfb);
    m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                         QStringLiteral("-screen"), QStringLiteral("0"),
                                         QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                         QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QByteArray number;
    const QDeadlineTimer deadline(20000);
    while (!number.endsWith('\n') && m_xvfb.waitForReadyRead(int(deadline.remainingTime())))
        number += m_xvfb.readAllStandardOutput();
    if (!number.endsWith('\n'))
        qFatal("Xvfb did not start: %s", m_xvfb.readAllStandardError().constData());
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

XServer::~XServer()
{
    stop(m_xvfb);
}

QProcessEnvironment XServer::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir.path());
    // A session bus that is not there. Without an address, libdbus would start a bus
    // for this display (dbus-launch --autolaunch), which outlives the test, and where
    // dbus-launch is missing its failed start leaks, which a sanitized build reports
    // at the program's exit.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + m_runtimeDir.filePath(QStringLiteral("no-bus")));
    // A named sound server: without one libpulse would look for the user's own,
    // or start one that outlives the test.
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + soundSocket());
    return environment;
}

QString XServer::soundSocket() const
{
    return m_runtimeDir.filePath(QStringLiteral("pulse-native"));
}

QString XServer::xdotool(const QStringList &arguments) const
{
    return QString::fromUtf8(runTool(environment(), QStringLiteral("xdotool"), arguments));
}

std::unique_ptr<QProcess> XServer::startXdotool(const QStringList &arguments) const
{
    auto tool = std::make_unique<QProcess>();
    tool->setProcessEnvironment(environment());
    dieWithTheTest(*tool);
    tool->start(QStringLiteral("xdotool"), arguments);
    return tool;
}

qulonglong XServer::findWindow(const QString &title) const
{
    int exitCode = 0;
    const QByteArray found =
        runTool(environment(), QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                 QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')},
                &exitCode);
    // xdotool ends with 1 when no window matches.
    return exitCode == 0 ? found.split('\n').first().toULongLong() : 0;
}

qulonglong XServer::waitForWindow(const QString &title, int timeoutMs) const
{
    return askUntil(timeoutMs, [&] { return findWindow(title); });
}

qulonglong XServer::focusWindow(const QString &title, int timeoutMs) const
{
    const qulonglong window = waitForWindow(title, timeoutMs);
    if (window)
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
    return window;
}

bool XServer::waitUntilGone(const QString &title, int timeoutMs) const
{
    return askUntil(timeoutMs, [&] { return !findWindow(title); });
}

QPoint XServer::windowOrigin(qulonglong window) const
{
    // With no window manager on the server, a window has no frame: its origin is its client's.
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                                   QString::number(window)});
    const QRegularExpressionMatch x = QRegularExpression(QStringLiteral("^X=(-?\\d+)$"),
                                                         QRegularExpression::MultilineOption).match(shell);
    const QRegularExpressionMatch y = QRegularExpression(QStringLiteral("^Y=(-?\\d+)$"),
                                                         QRegularExpression::MultilineOption).match(shell);
    if (!x.hasMatch() || !y.hasMatch())
        qFatal("no geometry for window %llu: %s", window, qPrintable(shell));
    return {x.captured(1).toInt(), y.captured(1).toInt()};
}

QStringList scanArguments(const QStringList &labels)
{
    QStringList arguments;
    for (const QString &label : labels)
        arguments << QStringLiteral("type") << QStringLiteral("--args") << QStringLiteral("1")
                  << QStringLiteral("--delay") << QStringLiteral("0") << label << QStringLiteral("key")
                  << QStringLiteral("--delay") << QStringLiteral("0") << QStringLiteral("Return");
    return arguments;
}

ProgramRun::ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup,
                       const QStringList &arguments)
    : m_server(server)
{
    // The program keeps its stock.mdb beside itself, so it runs from the folder's own
    // copy, started there as from a shell: the folder's name is taken byte for byte,
    // whatever its encoding.
    const std::filesystem::path program = std::filesystem::path(folder) / "quillmarch";
    std::error_code error;
    if (!std::filesystem::exists(program, error)
        && !std::filesystem::copy_file(QUILLMARCH_PROGRAM, program, error))
        qFatal("cannot copy the program to %s: %s", program.c_str(), error.message().c_str());
    m_process.setProcessEnvironment(server.environment());
    m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    dieWithTheTest(m_process, [folder, childSetup = std::move(childSetup)] {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        if (childSetup)
            childSetup();
    });
    m_process.start(QStringLiteral("./quillmarch"), arguments);
    if (!m_process.waitForStarted(10000))
        qFatal("cannot start %s: %s", program.c_str(), qPrintable(m_process.errorString()));
}

ProgramRun::~ProgramRun()
{
    stop(m_process);
}

bool ProgramRun::waitUntilShown()
{
    // No window manager hands out the keyboard on this server.
    return m_server.focusWindow(mainWindowTitle) != 0;
}

bool ProgramRun::closeErrorBox() const
{
    if (!m_server.focusWindow(errorBoxTitle))
        return false;
    press(QStringLiteral("Escape"));
    return true;
}

void ProgramRun::scan(const QStringList &labels) const
{
    m_server.xdotool(scanArguments(labels));
}

void ProgramRun::type(const QString &text) const
{
    m_server.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("0"), text});
}

void ProgramRun::press(const QString &keys) const
{
    m_server.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("0"), keys});
}

void ProgramRun::click(qulonglong window, QPoint point, int clicks) const
{
    const QPoint at = m_server.windowOrigin(window) + point;
    // Without --sync, which waits for the pointer to leave where it is and so hangs
    // when it is already there: the server takes the move and the clicks in order.
    m_server.xdotool({QStringLiteral("mousemove"), QString::number(at.x()),
                      QString::number(at.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
                      QString::number(clicks), QStringLiteral("--delay"), QStringLiteral("60"),
                      QStringLiteral("1")});
}

QString ProgramRun::errorOutput()
{
    m_errorOutput += QString::fromLocal8Bit(m_process.readAllStandardError());
    return m_errorOutput;
}

QString ProgramRun::reportedError(int code)
{
    const QString start = QStringLiteral("quillmarch: Error %1: ").arg(code);
    for (const QString &line : errorOutput().split(QLatin1Char('\n')))
        if (line.startsWith(start))
            return line.mid(start.size());
    return {};
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
    // Its cookie, its configuration and runtime files in a folder of its own, and
    // no session bus: nothing of it outlives the test.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"})
        environment.insert(QString::fromLatin1(name), m_home.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + m_home.filePath(QStringLiteral("no-bus")));
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::ForwardedChannels);
    dieWithTheTest(m_server);
    // Anonymous clients: the program finds no cookie of this server's.
    m_server.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("--daemonize=no"), QStringLiteral("--system=no"), QStringLiteral("-n"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--log-level=error"), QStringLiteral("--log-target=stderr"),
                    QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") +
                        server.soundSocket(),
                    QStringLiteral("--load=module-null-sink sink_name=counting")});
    if (!m_server.waitForStarted(10000))
        qFatal("pulseaudio did not start: %s", qPrintable(m_server.errorString()));
    if (!askUntil(10000, [&] { return QFile::exists(server.soundSocket()); }))
        qFatal("pulseaudio made no socket");

    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + server.soundSocket());
    m_recorder.setProcessEnvironment(environment);
    m_recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dieWithTheTest(m_recorder);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("--device=counting.monitor"), QStringLiteral("--raw"),
                      QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                      QStringLiteral("--rate=%1").arg(recordingRate), QStringLiteral("--latency-msec=20")});
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

ProgramAnswer runWithoutDisplay(const QStringList &arguments)
{
    // With no display at all, a program that opened a window would fail.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    dieWithTheTest(program);
    program.start(QStringLiteral(QUILLMARCH_PROGRAM), arguments);
    if (!program.waitForFinished(30000)) {
        stop(program);
        qFatal("quillmarch %s did not end", qPrintable(arguments.join(QLatin1Char(' '))));
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
}
