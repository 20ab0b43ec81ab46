#include "store/stock_export.h"

#include "store/utf8_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// A field with a comma, a quote or a line break goes in quotes, its quotes doubled.
void appendField(std::string &line, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (char c : field) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

} // namespace

void exportCsv(Store &store, const std::string &path)
{
    // Written beside the file under another name, then put in its place.
    const std::string partial = path + ".part";
    const auto failure = [&](const std::string &what) {
        return StoreError(10, path + " could not be written (" + what + "); no export was made.");
    };
#ifdef _WIN32
    std::FILE *file = _wfopen(pathFromUtf8(partial).c_str(), L"wb");
#else
    std::FILE *file = std::fopen(partial.c_str(), "wb");
#endif
    if (!file)
        throw failure(std::strerror(errno));
    std::string line = "id,Location,StockCode,Quantity\r\n";
    const auto write = [&] {
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
            throw failure(std::strerror(errno));
        line.clear();
    };
    bool closed = false;
    try {
        write();
        store.listAll([&](const StockRecordView &record) {
            line += std::to_string(record.id);
            for (std::string_view field : {record.location, record.stockCode, record.quantity}) {
                line += ',';
                appendField(line, field);
            }
            line += "\r\n";
            write();
        });
        closed = true;
        if (std::fclose(file) != 0)
            throw failure(std::strerror(errno));
        std::error_code renamed;
        std::filesystem::rename(pathFromUtf8(partial), pathFromUtf8(path), renamed);
        if (renamed)
            throw failure(renamed.message());
    } catch (...) {
        if (!closed)
            std::fclose(file);
        std::error_code ignored;
        std::filesystem::remove(pathFromUtf8(partial), ignored);
        throw;
    }
}
