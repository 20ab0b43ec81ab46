#pragma once

#include "store/journal.h"
#include "store/postgres_handle.h"
#include "store/store.h"

#include <memory>
#include <string>
#include <vector>

// The table Stock in a PostgreSQL database that several stations count into at
// once, each through a journal of its own. A scan never waits on the network: it
// is kept in the station's journal, and its tone sounds, once it is on the
// station's disk; it then goes to the server in the background, with an
// identifier of its own that the server keeps, so that sending it twice stores it
// once. When the server is out of reach the station counts on into its journal
// and tries again, every few seconds; back in reach, it sends what waits, in the
// order made, and reads the table anew for what the others did meanwhile.
// Editing and deleting a record on the server need the server; a count still
// waiting is the station's own. The window drives the connection from its event
// loop (wake() and advance()); only the start and an export wait, each with a
// deadline.
class TeamStore : public Store {
public:
    // url: libpq's URI form, without a password; folder: where the journal lives.
    TeamStore(std::string url, std::string folder, Access access = Access::Count);
    ~TeamStore() override;

    // Refuses a database whose encoding is not UTF-8 and a table Stock of another
    // shape (error 26), a role that may not count (23), and a server that turns the
    // station away (23). Makes the table in a database that has none, and brings
    // one made by an earlier version up to date, when the owner starts it. A server
    // out of reach is an error (14) unless the station has counted into it before
    // (its journal is there): then it lists the counts waiting and counts on.
    void listAll(const std::function<void(const StockRecordView &)> &visit,
                 const std::function<void(const StockListSize &)> &expect = {}) override;
    RecordKey append(std::string_view location, std::string_view stockCode, std::string_view quantity) override;
    void load(RecordKey key, Done done) override;
    void update(RecordKey key, const StockRecord &shown, std::string_view location, std::string_view stockCode,
                std::string_view quantity, Done done) override;
    void remove(RecordKey key, const StockRecord &shown, Done done) override;
    std::string place() const override;

    void follow(StoreObserver *observer) override { m_observer = observer; }
    std::optional<LinkStatus> link() const override { return m_status; }
    StoreWake wake() const override;
    void advance() override;

private:
    enum class Moment { Start, Again };

    // Connects and waits, for the start and the export: false when out of reach.
    bool connectNow();
    // Runs one statement and waits for it, for the start and the export.
    postgres::Result query(std::string sql, std::vector<postgres::Value> values = {});
    // Makes, brings up to date and checks the table, as the start may.
    void requireStockTable();
    void listWaiting(const std::function<void(const StockRecordView &)> &visit) const;
    // The server's answer to a conditional Save or Delete (what names it in an error).
    void answerWrite(const postgres::Reply &reply, const StockRecord &shown, const char *what, const Done &done) const;

    // The background: a new connection, and the work done over it, one piece at a time.
    void connectLater();
    void prepare();
    void lost();
    void startWork();
    // Busy elsewhere: the work starts again a little later.
    void waitAWhile();
    void upload();
    void fetchChanges();
    void relist();
    void tellStatus();

    std::string m_url;
    std::string m_folder;
    Access m_access;
    std::string m_name;
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<postgres::Session> m_session;
    StoreObserver *m_observer = nullptr;
    bool m_ready = false;   // the session is prepared: the table checked, the changes listened for
    bool m_working = false; // a piece of background work is under way
    bool m_relistDue = false;
    bool m_uploadedLast = false; // the last piece of work sent counts
    std::vector<std::int64_t> m_toldIds; // records other stations changed, not yet read
    postgres::Clock::time_point m_retryAt{};
    postgres::Clock::time_point m_workAt{};
    postgres::Clock::duration m_retryDelay{};
    LinkStatus m_status;
};
