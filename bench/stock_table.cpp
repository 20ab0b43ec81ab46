#include "bench/label_texts.h"
#include "bench/stock_file.h"
#include "store/team_store.h"

#include <libpq-fe.h>

#include <memory>
#include <stdexcept>

// The records go in through one COPY, as the server's own tools load a table; the
// trigger that tells the stations stays quiet meanwhile, as no station listens.
void makeStockTable(const std::string &url, long records)
{
    {
        const TemporaryFolder station;
        TeamStore(url, station.path()).listAll([](const StockRecordView &) {});
    }
    const std::unique_ptr<PGconn, void (*)(PGconn *)> db(PQconnectdb(url.c_str()), PQfinish);
    const auto run = [&](const char *sql, ExecStatusType expected) {
        const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(db.get(), sql), PQclear);
        if (PQresultStatus(result.get()) != expected)
            throw std::runtime_error(std::string("filling the table: ") + PQerrorMessage(db.get()));
    };
    run("SET session_replication_role = replica", PGRES_COMMAND_OK);
    run("COPY \"Stock\" (\"Location\", \"StockCode\", \"Quantity\") FROM STDIN", PGRES_COPY_IN);
    LabelTexts texts;
    std::string rows;
    for (long i = 0; i < records; ++i) {
        // Letters and digits only: nothing to escape in COPY's text form.
        rows += texts.location() + '\t' + texts.stockCode() + '\t' + texts.quantity() + '\n';
        if (rows.size() > 65536 || i + 1 == records) {
            if (PQputCopyData(db.get(), rows.data(), int(rows.size())) != 1)
                throw std::runtime_error(std::string("filling the table: ") + PQerrorMessage(db.get()));
            rows.clear();
        }
    }
    if (PQputCopyEnd(db.get(), nullptr) != 1)
        throw std::runtime_error(std::string("filling the table: ") + PQerrorMessage(db.get()));
    const std::unique_ptr<PGresult, void (*)(PGresult *)> copied(PQgetResult(db.get()), PQclear);
    if (PQresultStatus(copied.get()) != PGRES_COMMAND_OK)
        throw std::runtime_error(std::string("filling the table: ") + PQerrorMessage(db.get()));
    // As a server that has run a while keeps it: the table's statistics gathered.
    run("VACUUM ANALYZE \"Stock\"", PGRES_COMMAND_OK);
}
