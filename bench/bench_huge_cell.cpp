// Measures the list's paint of a row whose cells hold megabytes of text:
//
//   bench_huge_cell [megabytes] [repaints]     (defaults: 10 MB, 20 repaints)
//
// Stores one record whose location, code and quantity are each that many
// megabytes of words, then times the window's first paint and each repaint of
// the record's row. Target: a repaint under 20 ms.

#include "application.h"
#include "stock_file.h"
#include "stock_list_view.h"
#include "stock_main.h"
#include "stock_store.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string words(std::size_t bytes)
{
    std::string text;
    text.reserve(bytes + 16);
    for (long word = 0; text.size() < bytes; ++word)
        text += "ITEM-" + std::to_string(word) + ' ';
    text.resize(bytes);
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 10;
    const int repaints = argc > 2 ? std::atoi(argv[2]) : 20;
    windowSystem();
    QApplication app(argc, argv);
    setUpApplication();
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(false);

    TemporaryFolder folder;
    const StockStore store(folder.path());
    store.listAll([](const StockRecordView &) {});
    const std::string huge = words(std::size_t(megabytes) << 20);
    store.append("A11", "SHORT", "1");
    store.append(huge, huge, huge);

    const Clock::time_point shown = Clock::now();
    StockMain window(std::make_unique<StockStore>(folder.path()), soundsOf(player.get()));
    if (!window.loadRecords())
        return 1;
    window.show();
    QApplication::processEvents();
    const double firstPaintMs = millisecondsSince(shown);

    auto *list = window.findChild<StockListView *>(QStringLiteral("stockList"));
    const QAbstractItemModel *model = list->model();
    const QRect row =
        list->visualRect(model->index(1, 0)).united(list->visualRect(model->index(1, model->columnCount() - 1)));
    std::vector<double> times;
    for (int i = 0; i < repaints; ++i) {
        const Clock::time_point start = Clock::now();
        list->viewport()->repaint(row);
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("cells of %ld MB each: start-up to first paint %.1f ms\n", megabytes, firstPaintMs);
    std::printf("repaint of the row, %d times: median %.2f ms, worst %.2f ms (target: under 20 ms)\n", repaints,
                times[times.size() / 2], times.back());
    return 0;
}
