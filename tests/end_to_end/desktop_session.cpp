#include "desktop_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtCore/qtestsupport_core.h>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/resource.h>
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
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busSocket());
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

namespace {

// xdotool's arguments for the visible windows with exactly this title, of the
// process pid when given; it ends with 1 when there is none.
QStringList windowsTitled(const QString &title, qint64 pid = 0)
{
    QStringList search{"search", "--all", "--onlyvisible"};
    if (pid)
        search << "--pid" << QString::number(pid);
    return search << "--name" << '^' + QRegularExpression::escape(title) + '$';
}

} // namespace

bool XServer::focusWindow(const QString &title, qint64 pid) const
{
    const QStringList search = windowsTitled(title, pid);
    return QTest::qWaitFor([&] { return xdotool(search) == 0; }, 10000)
        && xdotool(search + QStringList{"windowraise", "windowfocus", "--sync"}) == 0;
}

bool XServer::windowGone(const QString &title) const
{
    return QTest::qWaitFor([&] { return xdotool(windowsTitled(title)) == 1; }, 10000);
}

QStringList scanArguments(const QStringList &labels, int keyDelayMs)
{
    const QString delay = QString::number(keyDelayMs);
    QStringList arguments;
    for (const QString &label : labels)
        arguments << "type"
                  << "--args"
                  << "1"
                  << "--delay" << delay << label << "key"
                  << "--delay" << delay << "Return";
    return arguments;
}

ProgramRun::ProgramRun(const XServer &server, const std::string &folder, std::function<void()> childSetup,
                       const QStringList &arguments, const QStringList &unset)
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
    // Answering, not merely listening: a client that comes too early gives up.
    const auto answers = [&] {
        Child info(environment, "pactl", {"info"});
        return info.waitForFinished(10000) && info.exitStatus() == QProcess::NormalExit && info.exitCode() == 0;
    };
    if (!QTest::qWaitFor(answers, 20000))
        qFatal("pulseaudio does not answer");
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

void SoundServer::stall(bool stalled)
{
    ::kill(pid_t(m_server->processId()), stalled ? SIGSTOP : SIGCONT);
}

namespace {

void writeFile(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(path));
}

// Orca as its own command starts it, but with its log of what it did written line
// by line (its --debug-file is written in blocks, the last of them lost to SIGKILL,
// the only signal that ends it).
constexpr auto orcaWithLog = R"(import runpy, sys
from orca import debug
debug.debugLevel = debug.LEVEL_INFO
debug.debugFile = open(sys.argv[1], "w", buffering=1)
sys.argv = ["orca"]
runpy.run_path("/usr/bin/orca", run_name="__main__")
)";

} // namespace

ScreenReader::ScreenReader(const XServer &server)
{
    QProcessEnvironment environment = server.environment();
    // Settings, caches and logs of a new user.
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        environment.insert(name, m_dir.path());
    // The screen reader and the buses it hears keys through come first on a busy
    // machine, as on a desktop where nothing else runs: Qt waits only 100 ms for
    // Orca's answer to a key before it handles the key, and Orca, handling it late,
    // cuts short what it has said of the key's effects. Only root may raise them.
    const auto first = [] { setpriority(PRIO_PROCESS, 0, -10); };
    // The bus writes its address once it listens; the accessibility bus starts on it when asked for.
    m_bus.emplace(environment, "dbus-daemon",
                  QStringList{"--session", "--nofork", "--nopidfile", "--print-address",
                              "--address=unix:path=" + server.busSocket()},
                  first);
    if (!m_bus->waitForReadyRead(20000))
        qFatal("dbus-daemon did not start: %s", m_bus->readAllStandardError().constData());

    // The system's settings, symbols read out as words among them, but the generic module.
    const QString configuration = m_dir.filePath("speech-dispatcher");
    writeFile(configuration + "/speechd.conf", R"(Include "/etc/speech-dispatcher/speechd.conf"
AddModule "generic" "sd_generic" "generic.conf"
DefaultModule generic
AudioOutputMethod "pulse"
)");
    writeFile(configuration + "/modules/generic.conf",
              QStringLiteral(R"(GenericExecuteSynth "printf '%s\\n' '$DATA' >> %1"
GenericLanguage "en" "en" "utf-8"
AddVoice "en" "MALE1" "heard"
)")
                  .arg(m_dir.filePath("heard.txt")));
    m_speech.emplace(
        environment, "speech-dispatcher",
        QStringList{"--run-single", "--timeout", "0", "--config-dir", configuration, "--log-dir", m_dir.path()}, first);
    const QString speechSocket = environment.value("XDG_RUNTIME_DIR") + "/speech-dispatcher/speechd.sock";
    if (!QTest::qWaitFor([&] { return QFile::exists(speechSocket); }, 20000))
        qFatal("speech-dispatcher made no socket: %s", m_speech->readAllStandardError().constData());

    writeFile(m_dir.filePath("orca/user-settings.conf"), R"({"general": {}, "pronunciations": {}, "keybindings": {},
"profiles": {"default": {"profile": ["Default", "default"], "enableBraille": false, "enableKeyEcho": false}}}
)");
    // Orca refuses to start beside another of this user's, as one a test before ended may be until it is reaped.
    const auto alone = [&] {
        Child search(environment, "pgrep", {"-u", QString::number(getuid()), "-x", "orca"});
        return search.waitForFinished(10000) && search.exitCode() == 1;
    };
    if (!QTest::qWaitFor(alone, 30000))
        qFatal("another orca of this user runs");
    m_orca.emplace(environment, "/usr/bin/python3", QStringList{"-c", orcaWithLog, m_dir.filePath("orca.log")}, first);
    if (!hear({"Screen reader on."}))
        qFatal("Orca did not start: %s", m_orca->readAllStandardOutput().constData());
}

QStringList ScreenReader::heard() const
{
    QFile file(m_dir.filePath("heard.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool ScreenReader::hear(const QStringList &utterances)
{
    qsizetype end = m_waitedFor;
    const bool heardAll = QTest::qWaitFor(
        [&] {
            const QStringList lines = heard();
            end = m_waitedFor;
            for (const QString &utterance : utterances) {
                end = lines.indexOf(utterance, end);
                if (end < 0)
                    return false;
                ++end;
            }
            return true;
        },
        30000);
    if (!heardAll) {
        QFile::remove("orca.log");
        QFile::copy(m_dir.filePath("orca.log"), "orca.log");
        return false;
    }
    m_lastHeard = heard().mid(m_waitedFor, end - m_waitedFor);
    m_waitedFor = end;
    return true;
}

QString ScreenReader::transcript() const
{
    const QStringList lines = heard();
    return QStringLiteral("heard [%1] then [%2]; Orca's log: %3")
        .arg(lines.mid(0, m_waitedFor).join('|'), lines.mid(m_waitedFor).join('|'),
             QFileInfo("orca.log").absoluteFilePath());
}
