#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A PostgreSQL server of the benchmark's own, which writes to the disk as a server
// does: made by initdb in a temporary folder and listening on a Unix socket there
// only, it ends with the process that started it, at the latest. Run as root, it
// runs as the user nobody, as the server demands. Its superuser postgres logs in
// without a password.
class BenchServer {
public:
    BenchServer();
    ~BenchServer();
    BenchServer(const BenchServer &) = delete;
    BenchServer &operator=(const BenchServer &) = delete;

    // Makes an empty database and returns its name.
    std::string createDatabase();
    std::string url(const std::string &database) const;
    // The folder of its socket, whose port is 5432.
    const std::string &socketFolder() const { return m_dir; }
    // Runs SQL as the superuser and returns the rows it yields, as text; the process
    // stops when it fails.
    std::vector<std::vector<std::string>> query(const std::string &database, const std::string &sql) const;

private:
    std::string m_dir;
    pid_t m_server = -1;
    int m_databases = 0;
};
