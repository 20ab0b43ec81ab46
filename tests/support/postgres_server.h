#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct pg_conn;
using PostgresSession = std::unique_ptr<pg_conn, void (*)(pg_conn *)>;

// A PostgreSQL server of the tests' and benchmarks' own. On Linux, made by initdb
// in a temporary folder and listening on a Unix socket there only; it ends with
// the process that started it, at the latest. Run as root, it runs as the user
// nobody, as the server demands. Test servers skip the flush to disk that a
// benchmark's server keeps. Or the one that the CTest fixture postgres started
// (tests/support/postgres-fixture.sh), reached over TCP with TLS, its
// certificate checked. Its superuser postgres logs in without a password; the
// counting role counter with the password s3cret, which libpq finds in the
// server's password file (a wrong one for the database mistyped). Plain C++: a
// benchmark that links it stays small.
class PostgresServer {
public:
    enum class Disk { Fast, Durable };

    explicit PostgresServer(Disk disk = Disk::Fast);
    // The fixture's server, whose folder (port, ca.crt, pgpass) is given.
    explicit PostgresServer(const std::string &fixture);
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // One server for every test of the process: the fixture's, where the variable
    // QUILLMARCH_TEST_POSTGRES names its folder, else one started at first use.
    static PostgresServer &shared();

    // Makes an empty database and returns its name, one no other process's test gives.
    std::string createDatabase();
    std::string url(const std::string &database, const std::string &user = "postgres") const;
    // Its host and port as libpq names them: its socket's folder, or 127.0.0.1.
    const std::string &host() const { return m_host; }
    const std::string &port() const { return m_port; }
    // A session of the superuser's; the process stops when it cannot be had.
    PostgresSession connect(const std::string &database) const;
    // Runs SQL (statements separated by semicolons) as the superuser, or in a session,
    // and returns the rows its last statement yields, as text; the process stops when
    // it fails.
    std::vector<std::vector<std::string>> query(const std::string &database, const std::string &sql) const;
    static std::vector<std::vector<std::string>> query(const PostgresSession &session, const std::string &sql);

    // A shutdown as the administrator's: sessions are ended, commits kept; an
    // immediate one as a crash's, recovered from at the next start.
    enum class Shutdown { Fast, Immediate };
    void stop(Shutdown shutdown = Shutdown::Fast);
    // Starts the server again after a stop.
    void start();

private:
    std::string m_dir;
    std::string m_host;
    std::string m_port = "5432";
    bool m_fixture = false;
    std::vector<std::string> m_options;
    pid_t m_server = -1;
    int m_databases = 0;
};
