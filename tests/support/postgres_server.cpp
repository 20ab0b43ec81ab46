#include "support/postgres_server.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {

// Stops the process, telling what went wrong, unless all is well.
void check(bool well, const std::string &what)
{
    if (!well) {
        std::fprintf(stderr, "the PostgreSQL server of the tests: %s\n", what.c_str());
        std::abort();
    }
}

// The value of an environment variable the fixtures set; the process stops without it.
std::string fixtureVariable(const char *name)
{
    const char *value = std::getenv(name);
    check(value, std::string(name) + " is not set: the test runs under CTest, which starts the server");
    return value;
}

} // namespace

PostgresServer::PostgresServer(const std::string &folder) : m_dir(folder)
{
    std::ifstream(m_dir + "/port") >> m_port;
    check(!m_port.empty(), "the fixture's folder " + m_dir + " names no port");
    std::getline(std::ifstream(m_dir + "/sockets"), m_sockets);
}

PostgresServer &PostgresServer::shared()
{
    static PostgresServer server(fixtureVariable("QUILLMARCH_TEST_POSTGRES"));
    return server;
}

PostgresServer &PostgresServer::own()
{
    static PostgresServer server(fixtureVariable("QUILLMARCH_TEST_POSTGRES_OWN"));
    return server;
}

void PostgresServer::control(const std::string &action) const
{
    const std::string command = fixtureVariable("QUILLMARCH_TEST_POSTGRES_SCRIPT") + " " + action + " " + m_dir;
    check(std::system(command.c_str()) == 0, command + " failed");
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
    return "postgresql://" + user + "@127.0.0.1:" + m_port + "/" + database
        + "?sslmode=verify-full&sslrootcert=" + m_dir + "/ca.crt&passfile=" + m_dir + "/pgpass";
}

PostgresSession PostgresServer::connect(const std::string &database) const
{
    PostgresSession session(PQconnectdb(url(database).c_str()), PQfinish);
    check(PQstatus(session.get()) == CONNECTION_OK, std::string("cannot connect: ") + PQerrorMessage(session.get()));
    return session;
}

std::vector<std::vector<std::string>> PostgresServer::query(const std::string &database, const std::string &sql) const
{
    return query(connect(database), sql);
}

std::vector<std::vector<std::string>> PostgresServer::query(const PostgresSession &session, const std::string &sql)
{
    const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(session.get(), sql.c_str()), PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    check(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK, sql + ": " + PQerrorMessage(session.get()));
    std::vector<std::vector<std::string>> rows(PQntuples(result.get()));
    for (int row = 0; row < int(rows.size()); ++row)
        for (int column = 0; column < PQnfields(result.get()); ++column)
            rows[row].emplace_back(PQgetvalue(result.get(), row, column));
    return rows;
}
