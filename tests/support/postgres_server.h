#pragma once

#include <memory>
#include <string>
#include <vector>

struct pg_conn;
using PostgresSession = std::unique_ptr<pg_conn, void (*)(pg_conn *)>;

// A PostgreSQL server that tests/support/postgres-fixture.sh started as a CTest
// fixture (tests/CMakeLists.txt), reached over TCP with TLS, its certificate
// checked. Its superuser postgres logs in without a password; the counting role
// counter with the password s3cret, which libpq finds in the server's password file
// (a wrong one for the database mistyped). Plain C++.
class PostgresServer {
public:
    // The server whose fixture's folder (port, ca.crt, pgpass) is given.
    explicit PostgresServer(const std::string &folder);

    // The server that every test of the process shares, whose folder the variable
    // QUILLMARCH_TEST_POSTGRES names; and a server of the test's own, which it may stop
    // and start again (QUILLMARCH_TEST_POSTGRES_OWN). The process stops when it has none.
    static PostgresServer &shared();
    static PostgresServer &own();

    // Makes an empty database and returns its name, one no other process's test gives.
    std::string createDatabase();
    std::string url(const std::string &database, const std::string &user = "postgres") const;
    // Its port on 127.0.0.1.
    const std::string &port() const { return m_port; }
    // The folder of its Unix socket, where it has one (the fixture's sockets file).
    const std::string &socketFolder() const { return m_sockets; }
    // A session of the superuser's; the process stops when it cannot be had.
    PostgresSession connect(const std::string &database) const;
    // Runs SQL (statements separated by semicolons) as the superuser, or in a session,
    // and returns the rows its last statement yields, as text; the process stops when
    // it fails.
    std::vector<std::vector<std::string>> query(const std::string &database, const std::string &sql) const;
    static std::vector<std::vector<std::string>> query(const PostgresSession &session, const std::string &sql);

    // Through the fixture's script, which QUILLMARCH_TEST_POSTGRES_SCRIPT names: "stop", a
    // shutdown as the administrator's (sessions ended, commits kept); "crash", an immediate
    // one, recovered from at the next start; "restart", the server started again.
    void control(const std::string &action) const;

private:
    std::string m_dir;
    std::string m_port;
    std::string m_sockets;
    int m_databases = 0;
};
