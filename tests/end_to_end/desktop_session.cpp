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
    return environment;
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

ProgramRun::ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup)
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
    m_process.start(QStringLiteral("./quillmarch"), {});
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
