#include "application/application.h"

#include "about/about_box.h"
#include "main_window/stock_main.h"
#include "widgets/announcer.h"
#include "widgets/look.h"
#include "widgets/stock_list_accessible.h"
#include "widgets/up_down.h"

#include <QAccessible>
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#endif

namespace {

QtMessageHandler handlerBeforeOpening = nullptr;
QString windowSystemProblem;

// While the application opens, Qt's window-system layer explains in warnings
// why it cannot, then gives up with a fatal message.
void reportNoWindowSystem(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "quillmarch: The window could not be opened: %s\n",
                     qPrintable(windowSystemProblem.isEmpty() ? message.section('.', 0, 0) : windowSystemProblem));
        // Half made, the application has nothing to clean up that the system does not.
        std::_Exit(EXIT_FAILURE);
    }
    if (QByteArrayView(context.category).startsWith("qt.qpa.")) {
        if (windowSystemProblem.isEmpty())
            windowSystemProblem = message.trimmed();
        return;
    }
    handlerBeforeOpening(type, context, message);
}

void installAccessibleInterfaces()
{
    for (QAccessible::InterfaceFactory factory :
         {&accessibleStockMain, &accessibleStockList, &accessibleUpDown, &accessibleAboutBox, &accessibleAnnouncer})
        QAccessible::installFactory(factory);
}

} // namespace

void openClosedStandardStreams()
{
#ifdef Q_OS_UNIX
    // Each open takes the lowest free number, the one just found closed.
    for (int stream = 0; stream <= 2; ++stream)
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", O_RDONLY);
#endif
}

std::unique_ptr<QApplication> openApplication(int &argc, char **argv)
{
#ifdef Q_OS_LINUX
    // Shared with the X server, each window's image takes a file descriptor of
    // its own, and Qt waits for ever for a window it could not get one for: a
    // program that has used up its descriptors (ulimit -n) could not paint the
    // box that says so. The windows are small enough to be sent whole.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
#endif
    handlerBeforeOpening = qInstallMessageHandler(reportNoWindowSystem);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(handlerBeforeOpening);
    return application;
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quillmarch"));
    // The menu entry the desktop shows the windows under, with its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quillmarch.Quillmarch"));
}

void setUpApplication()
{
    nameApplication();
    Look::install();
    installAccessibleInterfaces();
}

std::unique_ptr<TonePlayer> makeTonePlayer(bool mute)
{
    return mute ? nullptr : std::make_unique<TonePlayer>();
}

SoundOutput soundsOf(TonePlayer *player)
{
    if (!player)
        return {};
    return [player](ScanSound sound) { player->play(sound); };
}
