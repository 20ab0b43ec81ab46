#include "bench/bench_postgres.h"

#include <libpq-fe.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "the benchmark's PostgreSQL server: %s\n", what.c_str());
    std::abort();
}

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

} // namespace

BenchServer::BenchServer()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "quillmarch-postgres-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("cannot make a temporary folder");
    m_dir = pattern;
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
    m_server =
        spawn({QUILLMARCH_POSTGRES_BINARIES "postgres", "-D", data, "-k", m_dir, "-c", "listen_addresses="}, log);
    for (int tries = 0; PQping(url("postgres").c_str()) != PQPING_OK; ++tries) {
        if (tries == 3000 || waitpid(m_server, nullptr, WNOHANG) == m_server)
            fail("the server did not start: " + readFile(log));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

BenchServer::~BenchServer()
{
    kill(m_server, SIGINT);
    waitpid(m_server, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

std::string BenchServer::createDatabase()
{
    const std::string name = "stock" + std::to_string(++m_databases);
    query("postgres", "CREATE DATABASE " + name);
    return name;
}

std::vector<std::vector<std::string>> BenchServer::query(const std::string &database, const std::string &sql) const
{
    const std::unique_ptr<PGconn, void (*)(PGconn *)> session(PQconnectdb(url(database).c_str()), PQfinish);
    const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(session.get(), sql.c_str()), PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(sql + ": " + PQerrorMessage(session.get()));
    std::vector<std::vector<std::string>> rows(PQntuples(result.get()));
    for (int row = 0; row < int(rows.size()); ++row)
        for (int column = 0; column < PQnfields(result.get()); ++column)
            rows[row].emplace_back(PQgetvalue(result.get(), row, column));
    return rows;
}

std::string BenchServer::url(const std::string &database) const
{
    return "postgresql:///" + database + "?host=" + m_dir + "&user=postgres";
}
