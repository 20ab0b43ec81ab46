// A PostgreSQL server for bench_startup, which stays free of its client library:
//
//   bench_server RECORDS
//
// Starts a server of its own that writes to the disk as a server does, fills the
// table Stock of a database with the records bench_startup puts in stock.mdb and
// makes another with an empty one, prints the two databases' URLs on a line each,
// and runs until its standard input closes.

#include "bench/bench_postgres.h"
#include "bench/stock_file.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RECORDS\n", argv[0]);
        return 2;
    }
    BenchServer server;
    const std::string full = server.url(server.createDatabase()), empty = server.url(server.createDatabase());
    makeStockTable(full, std::atol(argv[1]));
    makeStockTable(empty, 0);
    std::printf("%s\n%s\n", full.c_str(), empty.c_str());
    std::fflush(stdout);
    while (std::getchar() != EOF) {}
    return 0;
}
