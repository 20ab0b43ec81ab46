#include "support/postgres_server.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "the PostgreSQL server of the tests: %s\n", what.c_str());
    std::abort();
}

#ifndef _WIN32
std::string readFile(const std::string &path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Starts one of the server's programs, as the user nobody when this is root, dying
// with this process; its output goes to log.
pid_t spawn(const std::vector<std::string> &arguments, const std::string &log)
{
    const passwd *user = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    const uid_t uid = user ? user->pw_uid : 0;
    const gid_t gid = user ? user->pw_gid : 0;
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int output = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (output < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0)
            _exit(126);
        if (user && (setgid(gid) != 0 || setgroups(0, nullptr) != 0 || setuid(uid) != 0))
            _exit(126);
        // After the change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        fail("cannot start " + arguments[0]);
    return pid;
}
#endif

} // namespace

#ifndef _WIN32
PostgresServer::PostgresServer(Disk disk)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmarch-postgres-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("cannot make a temporary folder");
    m_dir = pattern;
    m_host = m_dir;
    if (const passwd *user = geteuid() == 0 ? getpwnam("nobody") : nullptr)
        if (chown(m_dir.c_str(), user->pw_uid, user->pw_gid) != 0)
            fail("cannot hand " + m_dir + " to nobody");
    const std::string data = m_dir + "/data", log = m_dir + "/server.log";
    int status = 0;
    const pid_t initdb = spawn({QUILLMARCH_POSTGRES_BINARIES "initdb", "-D", data, "-U", "postgres", "--auth=trust",
                                "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
                               log);
    if (waitpid(initdb, &status, 0) != initdb || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("initdb failed: " + readFile(log));
    std::ofstream(data + "/pg_hba.conf") << "local all counter scram-sha-256\nlocal all all trust\n";
    std::ofstream(m_dir + "/pgpass") << "*:*:mistyped:counter:s3cret-not\n*:*:*:counter:s3cret\n";
    std::filesystem::permissions(m_dir + "/pgpass", std::filesystem::perms::owner_read);
    setenv("PGPASSFILE", (m_dir + "/pgpass").c_str(), 1);
    m_options = {QUILLMARCH_POSTGRES_BINARIES "postgres", "-D", data, "-k", m_dir, "-c", "listen_addresses="};
    if (disk == Disk::Fast)
        m_options.insert(m_options.end(), {"-c", "fsync=off", "-c", "full_page_writes=off"});
    start();
    query("postgres", "CREATE ROLE counter LOGIN PASSWORD 's3cret'");
}
#endif

PostgresServer::PostgresServer(const std::string &fixture) : m_dir(fixture), m_host("127.0.0.1"), m_fixture(true)
{
    std::ifstream(m_dir + "/port") >> m_port;
    if (m_port.empty())
        fail("the fixture's folder " + m_dir + " names no port");
}

PostgresServer::~PostgresServer()
{
    stop();
    std::error_code ignored;
    if (!m_fixture)
        std::filesystem::remove_all(m_dir, ignored);
}

PostgresServer &PostgresServer::shared()
{
    static const std::unique_ptr<PostgresServer> server = [] {
        if (const char *fixture = std::getenv("QUILLMARCH_TEST_POSTGRES"))
            return std::make_unique<PostgresServer>(std::string(fixture));
#ifdef _WIN32
        fail("QUILLMARCH_TEST_POSTGRES names no folder: the tests' fixture postgres starts the server");
#else
        return std::make_unique<PostgresServer>();
#endif
    }();
    return *server;
}

void PostgresServer::start()
{
#ifndef _WIN32
    const std::string log = m_dir + "/server.log";
    m_server = spawn(m_options, log);
    for (int tries = 0; PQping(url("postgres").c_str()) != PQPING_OK; ++tries) {
        if (tries == 3000 || waitpid(m_server, nullptr, WNOHANG) == m_server)
            fail("the server did not start: " + readFile(log));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
#endif
}

void PostgresServer::stop(Shutdown shutdown)
{
#ifndef _WIN32
    if (m_server < 0)
        return;
    kill(m_server, shutdown == Shutdown::Fast ? SIGINT : SIGQUIT);
    waitpid(m_server, nullptr, 0);
    m_server = -1;
#endif
}

std::string PostgresServer::createDatabase()
{
    // Tests of several programs share the fixture's server.
    static const std::string process = std::to_string(std::random_device()() % 1000000);
    const std::string name = "stock" + process + "_" + std::to_string(++m_databases);
    query("postgres", "CREATE DATABASE " + name);
    return name;
}

std::string PostgresServer::url(const std::string &database, const std::string &user) const
{
    if (m_fixture)
        return "postgresql://" + user + "@" + m_host + ":" + m_port + "/" + database
            + "?sslmode=verify-full&sslrootcert=" + m_dir + "/ca.crt&passfile=" + m_dir + "/pgpass";
    return "postgresql:///" + database + "?host=" + m_dir + "&user=" + user;
}

PostgresSession PostgresServer::connect(const std::string &database) const
{
    PostgresSession session(PQconnectdb(url(database).c_str()), PQfinish);
    if (PQstatus(session.get()) != CONNECTION_OK)
        fail(std::string("cannot connect: ") + PQerrorMessage(session.get()));
    return session;
}

std::vector<std::vector<std::string>> PostgresServer::query(const std::string &database, const std::string &sql) const
{
    return query(connect(database), sql);
}

std::vector<std::vector<std::string>> PostgresServer::query(const PostgresSession &session, const std::string &sql)
{
    const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(session.get(), sql.c_str()), PQclear);
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK && PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        fail(sql + ": " + PQerrorMessage(session.get()));
    std::vector<std::vector<std::string>> rows(PQntuples(result.get()));
    for (int row = 0; row < int(rows.size()); ++row)
        for (int column = 0; column < PQnfields(result.get()); ++column)
            rows[row].emplace_back(PQgetvalue(result.get(), row, column));
    return rows;
}
