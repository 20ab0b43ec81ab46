#include "store/stock_export.h"

#include "store/file_kind.h"
#include "store/utf8_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#endif

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

// The header and every record onto the stream, line by line; failure names what went wrong.
void writeRecords(Store &store, std::FILE *stream, const std::function<StoreError(const char *)> &failure)
{
    std::string line = "id,Location,StockCode,Quantity\r\n";
    const auto write = [&] {
        if (std::fwrite(line.data(), 1, line.size(), stream) != line.size())
            throw failure(std::strerror(errno));
        line.clear();
    };
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
}

// Makes the file afresh, never through a link or into a pipe that another program left under its name.
std::FILE *createNew(const std::filesystem::path &path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
#ifdef _WIN32
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd < 0 ? nullptr : fdopen(fd, "wb");
#endif
}

} // namespace

void exportCsv(Store &store, const std::string &path)
{
    const auto failure = [&](const std::string &what) {
        return StoreError(10, "The export to " + path + " failed (" + what + "); the file was left as it was.");
    };
    if (const std::optional<std::string> problem = notARegularFile(path))
        throw StoreError(10, "The export to " + path + " was refused: it " + *problem + ". Nothing was written.");
    // A link stays, and the file it names takes the export.
    std::error_code error;
    std::filesystem::path target = pathFromUtf8(path);
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, error))) {
        target = std::filesystem::canonical(target, error);
        if (error)
            throw failure(error.message());
    }

    // Written beside the file under another name, then put in its place.
    std::filesystem::path partial = target;
    partial += ".part";
    std::FILE *file = createNew(partial);
    if (!file)
        throw failure(std::strerror(errno));
    bool closed = false;
    try {
        writeRecords(store, file, failure);
        closed = true;
        if (std::fclose(file) != 0)
            throw failure(std::strerror(errno));
        std::filesystem::rename(partial, target, error);
        if (error)
            throw failure(error.message());
    } catch (...) {
        if (!closed)
            std::fclose(file);
        std::filesystem::remove(partial, error);
        throw;
    }
}

void exportCsv(Store &store, std::FILE *standardOutput)
{
    const auto failure = [](const std::string &what) {
        return StoreError(10, "The export to standard output failed (" + what + "); it is incomplete.");
    };
#ifdef _WIN32
    // Byte for byte: a stream in text mode would write each CR LF as CR CR LF.
    _setmode(_fileno(standardOutput), _O_BINARY);
#endif
    writeRecords(store, standardOutput, failure);
    if (std::fflush(standardOutput) != 0)
        throw failure(std::strerror(errno));
}
