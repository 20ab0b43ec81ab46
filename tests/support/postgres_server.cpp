#include "postgres_server.h"

#include <QFile>
#include <QTest>

#include <libpq-fe.h>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The server refuses to run as root; nobody owns its folder then.
const passwd *serverUser()
{
    return geteuid() == 0 ? getpwnam("nobody") : nullptr;
}

// Runs a server program as its user, dying with the test.
void runAs(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setChildProcessModifier([] {
        if (const passwd *user = serverUser()) {
            if (setgid(user->pw_gid) != 0 || setgroups(0, nullptr) != 0 || setuid(user->pw_uid) != 0)
                _exit(126);
        }
        // After the change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process.start(QUILLMARCH_POSTGRES_BINARIES + program, arguments);
}

} // namespace

PostgresServer::PostgresServer(Disk disk)
{
    const QString data = m_dir.filePath("data");
    if (const passwd *user = serverUser())
        if (chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0)
            qFatal("cannot hand the server's folder to nobody");
    QProcess initdb;
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    runAs(initdb, "initdb",
          {"-D", data, "-U", "postgres", "--auth=trust", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"});
    if (!initdb.waitForFinished(120000) || initdb.exitCode() != 0)
        qFatal("initdb failed: %s", initdb.readAll().constData());
    QFile access(data + "/pg_hba.conf");
    if (!access.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || access.write("local all counter scram-sha-256\nlocal all all trust\n") <= 0)
        qFatal("cannot write pg_hba.conf");
    access.close();
    m_options = {"-D", data, "-k", m_dir.path(), "-c", "listen_addresses=", "-c", "logging_collector=off"};
    if (disk == Disk::Fast)
        m_options << "-c"
                  << "fsync=off"
                  << "-c"
                  << "full_page_writes=off";
    start();
    queryText("postgres", "CREATE ROLE counter LOGIN PASSWORD 's3cret'");
}

PostgresServer::~PostgresServer()
{
    stop();
}

PostgresServer &PostgresServer::shared()
{
    static PostgresServer server;
    return server;
}

void PostgresServer::start()
{
    // Its log is for a start that fails.
    m_server.setStandardErrorFile(m_dir.filePath("server.log"));
    runAs(m_server, "postgres", m_options);
    const std::string ping = url("postgres");
    if (!QTest::qWaitFor([&] { return PQping(ping.c_str()) == PQPING_OK; }, 60000)) {
        QFile log(m_dir.filePath("server.log"));
        log.open(QIODevice::ReadOnly);
        qFatal("the test server did not start: %s", log.readAll().constData());
    }
}

void PostgresServer::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    kill(pid_t(m_server.processId()), SIGINT);
    if (!m_server.waitForFinished(30000))
        m_server.kill();
    m_server.waitForFinished();
}

std::string PostgresServer::createDatabase()
{
    const std::string name = "stock" + std::to_string(++m_databases);
    queryText("postgres", "CREATE DATABASE " + name);
    return name;
}

std::string PostgresServer::url(const std::string &database, const std::string &user) const
{
    return "postgresql:///" + database + "?host=" + QFile::encodeName(m_dir.path()).toStdString() + "&user=" + user;
}

PostgresSession PostgresServer::connect(const std::string &database) const
{
    PostgresSession session(PQconnectdb(url(database).c_str()), PQfinish);
    if (PQstatus(session.get()) != CONNECTION_OK)
        qFatal("cannot connect to the test server: %s", PQerrorMessage(session.get()));
    return session;
}

std::string PostgresServer::queryText(const std::string &database, const std::string &sql) const
{
    const PostgresSession session = connect(database);
    const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(session.get(), sql.c_str()), PQclear);
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK && PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        qFatal("%s: %s", sql.c_str(), PQerrorMessage(session.get()));
    return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
}
