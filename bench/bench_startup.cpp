// Measures the program's start-up over a large stock.mdb against the sqlite3
// shell dumping the same table:
//
//   bench_startup [records] [repeats] [--server]     (defaults: 1000000 records, 5 repeats)
//
// It makes a temporary stock.mdb of that many records and an empty one, runs
// each of the three commands once to warm the caches, then `repeats` times in
// turn, and prints the median and best times, the peak memories, the minor page
// faults, and how they compare with the targets: start-up no slower than the
// sqlite3 dump, and at most 40 MB more memory than the program over an empty table.
//
// Each run is a process of its own, timed from just before it is spawned until
// it has been reaped; its peak memory is the kernel's peak resident size. That
// figure includes the spawning process's own resident size at the moment of the
// spawn, so this driver links neither Qt nor the windows and makes its files in
// a child process: it stays at a couple of megabytes. The start-up itself is
// bench_startup_window, which does what main.cpp does and ends right after the
// main window's first paint. Its window system is the one QT_QPA_PLATFORM names,
// else the X display in DISPLAY, else offscreen.
//
// With --server it also has bench_server start a PostgreSQL server of its own
// (writing to the disk as a server does) with the same records in its table Stock,
// and times the start-up over it against psql dumping the table over the same Unix
// socket, the peak memory against the start-up over stock.mdb. The server's
// client library stays out of this driver.

#include "bench/stock_file.h"
#include "store/stock_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr long targetRecords = 1000000;
constexpr double startUpRatioTarget = 1.0;
constexpr double memoryOverEmptyTargetMB = 40;

using Clock = std::chrono::steady_clock;

double megabytes(long kilobytes)
{
    return kilobytes * 1024.0 / 1e6;
}

// Makes a table in a child process, so that this one stays small.
void makeApart(const std::function<void()> &make)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            make();
            _exit(0);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s\n", error.what());
            _exit(1);
        }
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("could not make the records");
}

// bench_server, running until its standard input closes.
struct ServerHelper {
    pid_t pid = -1;
    int input = -1;
    std::string url, emptyUrl;

    ~ServerHelper()
    {
        if (pid < 0)
            return;
        close(input);
        waitpid(pid, nullptr, 0);
    }
};

void startServer(ServerHelper &helper, const std::string &program, long records)
{
    int input[2], output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
        throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    for (int end : {input[0], input[1], output[0], output[1]})
        posix_spawn_file_actions_addclose(&actions, end);
    const std::string count = std::to_string(records);
    char *const argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(count.c_str()), nullptr};
    const int error = posix_spawn(&helper.pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    helper.input = input[1];
    if (error != 0)
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(error));
    for (std::string *url : {&helper.url, &helper.emptyUrl})
        for (char c = 0; read(output[0], &c, 1) == 1 && c != '\n';)
            *url += c;
    close(output[0]);
    if (helper.emptyUrl.empty())
        throw std::runtime_error("bench_server gave no database");
}

struct Milestone {
    double seconds; // since the spawn
    long peakKilobytes;
};

struct Run {
    double seconds = 0;
    long peakKilobytes = 0;
    long minorFaults = 0;
    std::map<std::string, Milestone> milestones;
};

// Spawns the command, reads what it prints when asked to (else it goes to
// /dev/null), and reaps it.
Run measure(const std::vector<std::string> &command, bool readMilestones)
{
    int pipeEnds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (readMilestones) {
        if (pipe(pipeEnds) != 0)
            throw std::runtime_error("no pipe");
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char *> argv;
    for (const std::string &argument : command)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0)
        throw std::runtime_error("cannot run " + command[0] + ": " + std::strerror(spawnError));

    std::string output;
    if (readMilestones) {
        close(pipeEnds[1]);
        char buffer[4096];
        for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
            output.append(buffer, static_cast<std::size_t>(got));
        close(pipeEnds[0]);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        throw std::runtime_error("lost " + command[0]);
    const Clock::time_point end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(command[0] + " failed");

    Run run;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.minorFaults = usage.ru_minflt;
    std::istringstream lines(output);
    std::string name;
    long long nanoseconds = 0;
    long kilobytes = 0;
    while (lines >> name >> nanoseconds >> kilobytes) {
        const auto at = std::chrono::nanoseconds(nanoseconds) - start.time_since_epoch();
        run.milestones[name] = {std::chrono::duration<double>(at).count(), kilobytes};
    }
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The runs of one command and the figures drawn from them.
struct Series {
    std::vector<Run> runs;

    double medianOf(double (*figure)(const Run &)) const
    {
        std::vector<double> values;
        for (const Run &run : runs)
            values.push_back(figure(run));
        return median(values);
    }
    double medianSeconds() const
    {
        return medianOf([](const Run &run) { return run.seconds; });
    }
    double minSeconds() const
    {
        double best = runs.front().seconds;
        for (const Run &run : runs)
            best = std::min(best, run.seconds);
        return best;
    }
    double medianPeakMB() const
    {
        return medianOf([](const Run &run) { return megabytes(run.peakKilobytes); });
    }
    double medianMinorFaults() const
    {
        return medianOf([](const Run &run) { return double(run.minorFaults); });
    }
    // Median time from one milestone to the next ("spawn" and "exit" are the run's ends).
    double medianMs(const std::string &from, const std::string &to) const
    {
        std::vector<double> values;
        for (const Run &run : runs) {
            const double begin = from == "spawn" ? 0 : run.milestones.at(from).seconds;
            const double end = to == "exit" ? run.seconds : run.milestones.at(to).seconds;
            values.push_back((end - begin) * 1000);
        }
        return median(values);
    }
    double medianMilestonePeakMB(const std::string &name) const
    {
        std::vector<double> values;
        for (const Run &run : runs)
            values.push_back(megabytes(run.milestones.at(name).peakKilobytes));
        return median(values);
    }
};

// The window program lies beside this one.
std::string besideThis(const char *name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

int benchmark(long records, int repeats, bool withServer)
{
    const std::string platform = windowSystem();
    const std::string window = besideThis("bench_startup_window");
    TemporaryFolder full, empty;
    const std::string database = databasePath(full.path());

    const Clock::time_point making = Clock::now();
    makeApart([&] { makeStockFile(full.path(), records); });
    makeApart([&] { makeStockFile(empty.path(), 0); });
    const double makingSeconds = std::chrono::duration<double>(Clock::now() - making).count();

    std::printf("Quillmarch start-up: %ld records, stock.mdb of %.1f MB made in %.1f s\n", records,
                std::filesystem::file_size(database) / 1e6, makingSeconds);
    std::printf("%d runs of each after one to warm up, window system %s\n\n", repeats, platform.c_str());
    std::fflush(stdout);

    const std::vector<std::string> startFull{window, full.path()};
    const std::vector<std::string> startEmpty{window, empty.path()};
    const std::vector<std::string> storeRead{window, "--store", full.path()};
    const std::vector<std::string> dump{"sqlite3", database, "SELECT * FROM Stock"};

    ServerHelper server;
    std::vector<std::string> startOverServer, startOverEmptyServer, psql;
    if (withServer) {
        startServer(server, besideThis("bench_server"), records);
        startOverServer = {window, full.path(), "--server", server.url};
        startOverEmptyServer = {window, empty.path(), "--server", server.emptyUrl};
        psql = {"psql", "-At", "-d", server.url, "-c", "SELECT * FROM \"Stock\""};
    }

    Series program, programEmpty, sqlite, store, programServer, programEmptyServer, psqlDump;
    for (int round = -1; round < repeats; ++round) {
        Run a = measure(startFull, true);
        Run b = measure(startEmpty, true);
        Run c = measure(dump, false);
        Run d = measure(storeRead, true);
        if (withServer) {
            Run e = measure(startOverServer, true);
            Run f = measure(psql, false);
            Run g = measure(startOverEmptyServer, true);
            if (round >= 0) {
                programServer.runs.push_back(e);
                psqlDump.runs.push_back(f);
                programEmptyServer.runs.push_back(g);
            }
        }
        if (round < 0)
            continue;
        program.runs.push_back(a);
        programEmpty.runs.push_back(b);
        sqlite.runs.push_back(c);
        store.runs.push_back(d);
    }

    const std::string programName = "quillmarch, " + std::to_string(records) + " records";
    std::printf("%-40s %10s %10s %14s %13s\n", "", "median", "best", "peak memory", "minor faults");
    for (const auto &[name, series] : {std::pair<std::string, const Series &>{programName, program},
                                       {"quillmarch, empty table", programEmpty},
                                       {"sqlite3 stock.mdb \"SELECT * FROM Stock\"", sqlite}})
        std::printf("%-40s %7.0f ms %7.0f ms %11.1f MB %13.0f\n", name.c_str(), series.medianSeconds() * 1000,
                    series.minSeconds() * 1000, series.medianPeakMB(), series.medianMinorFaults());

    const double ratio = program.medianSeconds() / sqlite.medianSeconds();
    const double bestRatio = program.minSeconds() / sqlite.minSeconds();
    const double overEmpty = program.medianPeakMB() - programEmpty.medianPeakMB();
    std::printf("\nstart-up / sqlite3 dump: %.2f (medians), %.2f (best)", ratio, bestRatio);
    if (records >= targetRecords)
        std::printf("; target at most %.1f: %s\n", startUpRatioTarget, verdict(ratio <= startUpRatioTarget));
    else
        std::printf("\n  (its target, at most %.1f, is set for %ld records and more; below, the program's own"
                    " start-up outweighs reading the table)\n",
                    startUpRatioTarget, targetRecords);
    std::printf("peak memory over the empty table: %.1f MB, %.0f bytes a record", overEmpty,
                records > 0 ? overEmpty * 1e6 / double(records) : 0.0);
    if (records == targetRecords)
        std::printf("; target at most %.0f MB: %s\n", memoryOverEmptyTargetMB,
                    verdict(overEmpty <= memoryOverEmptyTargetMB));
    else
        std::printf("\n  (its target, at most %.0f MB, is set for %ld records)\n", memoryOverEmptyTargetMB,
                    targetRecords);

    std::printf("\n%-40s %10s %14s\n", "Where the start-up goes (medians)", "records", "empty table");
    const struct {
        const char *what, *from, *to;
    } parts[] = {{"process start, QApplication, font", "spawn", "application"},
                 {"StockMain built and its records listed", "application", "window"},
                 {"show, first layout and paint", "window", "painted"},
                 {"process exit", "painted", "exit"}};
    for (const auto &part : parts)
        std::printf("  %-38s %7.0f ms %11.0f ms\n", part.what, program.medianMs(part.from, part.to),
                    programEmpty.medianMs(part.from, part.to));
    for (const char *name : {"application", "window", "painted"})
        std::printf("  peak memory at \"%s\"%*s %7.1f MB %11.1f MB\n", name, 22 - int(std::strlen(name)), "",
                    program.medianMilestonePeakMB(name), programEmpty.medianMilestonePeakMB(name));
    std::printf("  the store alone: listAll %.0f ms; listAll into StockRows %.0f ms, peak memory %.1f -> %.1f MB\n",
                store.medianMs("start", "read"), store.medianMs("read", "rows"), store.medianMilestonePeakMB("read"),
                store.medianMilestonePeakMB("rows"));

    if (withServer) {
        std::printf("\nOver a PostgreSQL server on this machine, through its Unix socket, the same records\n");
        std::printf("%-40s %10s %10s %14s %13s\n", "", "median", "best", "peak memory", "minor faults");
        for (const auto &[name, series] :
             {std::pair<std::string, const Series &>{"quillmarch --store, " + std::to_string(records) + " records",
                                                     programServer},
              {"quillmarch --store, empty table", programEmptyServer},
              {"psql -At -c 'SELECT * FROM \"Stock\"'", psqlDump}})
            std::printf("%-40s %7.0f ms %7.0f ms %11.1f MB %13.0f\n", name.c_str(), series.medianSeconds() * 1000,
                        series.minSeconds() * 1000, series.medianPeakMB(), series.medianMinorFaults());
        const double serverRatio = programServer.medianSeconds() / psqlDump.medianSeconds();
        std::printf("start-up / psql dump: %.2f (medians), %.2f (best); target at most %.1f: %s\n", serverRatio,
                    programServer.minSeconds() / psqlDump.minSeconds(), startUpRatioTarget,
                    verdict(serverRatio <= startUpRatioTarget));
        std::printf("peak memory: %.1f MB over the server, %.1f MB over stock.mdb; target no more than over"
                    " stock.mdb: %s\n",
                    programServer.medianPeakMB(), program.medianPeakMB(),
                    verdict(programServer.medianPeakMB() <= program.medianPeakMB()));
        std::printf("  of which over the empty table: %.1f MB over the server, %.1f MB over stock.mdb (the client"
                    " library the server needs, loaded at the first connection, and what it loads)\n",
                    programEmptyServer.medianPeakMB(), programEmpty.medianPeakMB());
        std::printf("  and the records: %.1f MB over the server, %.1f MB over stock.mdb\n",
                    programServer.medianPeakMB() - programEmptyServer.medianPeakMB(),
                    program.medianPeakMB() - programEmpty.medianPeakMB());
        std::printf("  StockMain built and its records listed, over the server: %.0f ms\n",
                    programServer.medianMs("application", "window"));
    }

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("\n(this driver's own peak, a floor under every peak above: %.1f MB)\n", megabytes(self.ru_maxrss));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const long records = argc > 1 ? std::atol(argv[1]) : targetRecords;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const bool withServer = argc > 3 && std::strcmp(argv[3], "--server") == 0;
    if (argc > 3 + withServer || records < 0 || repeats < 1) {
        std::fprintf(stderr, "usage: %s [records] [repeats] [--server]\n", argv[0]);
        return 2;
    }
    try {
        return benchmark(records, repeats, withServer);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_startup: %s\n", error.what());
        if (std::strstr(error.what(), "cannot run sqlite3"))
            std::fprintf(stderr, "The sqlite3 shell is needed: apt-get install sqlite3\n");
        return 1;
    }
}
