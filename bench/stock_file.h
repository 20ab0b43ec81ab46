#pragma once

#include <chrono>
#include <functional>
#include <string>

class Store;

// Fills the stock.mdb of a folder with that many records of realistic label
// lengths (location 4-8, code 8-13, quantity 1-4 characters), the same texts on
// every run. The program's store makes the file and the table first.
void makeStockFile(const std::string &folder, long records);
// The same records in the table Stock of a PostgreSQL database, which the
// program's store makes first.
void makeStockTable(const std::string &url, long records);

// A temporary folder, removed with everything in it when it goes.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// The window system the benchmark's windows use: the one QT_QPA_PLATFORM or
// DISPLAY names, or else offscreen, which it then sets.
std::string windowSystem();

// Drives a store's link to its server, as the window's event loop does, until
// done() holds or the time is up: what a station without a window does.
bool driveUntil(Store &store, const std::function<bool()> &done, std::chrono::milliseconds most);
