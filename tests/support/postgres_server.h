#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <string>

struct pg_conn;
using PostgresSession = std::unique_ptr<pg_conn, void (*)(pg_conn *)>;

// A PostgreSQL server of the tests' own, made by initdb in a temporary folder and
// listening on a Unix socket there only; it ends with the process that started it.
// Run as root, it runs as the user nobody, as the server demands. Test servers
// skip the flush to disk that a benchmark's server keeps. Its superuser postgres
// logs in without a password; the counting role counter with the password s3cret.
class PostgresServer {
public:
    enum class Disk { Fast, Durable };

    explicit PostgresServer(Disk disk = Disk::Fast);
    ~PostgresServer();

    // One server for every test of the process, started at first use.
    static PostgresServer &shared();

    // Makes an empty database and returns its name.
    std::string createDatabase();
    std::string url(const std::string &database, const std::string &user = "postgres") const;
    // Where its socket lies, the host of its URLs.
    QString directory() const { return m_dir.path(); }
    // A session of the server's superuser; the test stops when it cannot be had.
    PostgresSession connect(const std::string &database) const;
    // Runs SQL (statements separated by semicolons) as the superuser and returns the
    // first column of the first row it yields, as text; the test stops when it fails.
    std::string queryText(const std::string &database, const std::string &sql) const;

    void start();
    // A fast shutdown, as the administrator's: sessions are ended, commits kept.
    void stop();

private:
    QTemporaryDir m_dir;
    QStringList m_options;
    QProcess m_server;
    int m_databases = 0;
};
