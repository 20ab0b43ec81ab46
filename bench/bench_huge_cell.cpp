// Measures what the program does with texts of megabytes and long scans:
//
//   bench_huge_cell [megabytes] [repaints] [scan kilobytes]
//                                          (defaults: 10 MB, 20 repaints, 40 kB)
//
// Stores one record whose location, code and quantity are each that many
// megabytes of words, then times the window's first paint and each repaint of
// the record's row, the item editor's opening on that record (from F2 to its
// first paint) and its closing, and a scan of a code of that many kilobytes
// into the item box, then its quantity label, their keys queued as a scanner
// types them, to the count stored. Targets: a repaint under 20 ms, the editor open within a second and
// closed within 100 ms, the long scan well under a second.

#include "application/application.h"
#include "bench/stock_file.h"
#include "main_window/stock_main.h"
#include "store/stock_store.h"
#include "widgets/stock_list_view.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

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

void press(QWidget *widget, Qt::Key key, const QString &text = {})
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &event);
    }
}

// Queues a label's keys for a box and ends it with Enter, as a scanner that
// types faster than the program takes the keys.
void scan(QWidget *box, const QString &label)
{
    const auto post = [box](Qt::Key key, const QString &text) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
            QCoreApplication::postEvent(box, new QKeyEvent(type, key, Qt::NoModifier, text));
    };
    for (const QChar c : label)
        post(Qt::Key_unknown, c);
    post(Qt::Key_Return, QStringLiteral("\r"));
}

} // namespace

int main(int argc, char *argv[])
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 10;
    const int repaints = argc > 2 ? std::atoi(argv[2]) : 20;
    const long scanKilobytes = argc > 3 ? std::atol(argv[3]) : 40;
    windowSystem();
    QApplication app(argc, argv);
    setUpApplication();
    const std::unique_ptr<TonePlayer> player = makeTonePlayer(false);

    TemporaryFolder folder;
    StockStore store(folder.path());
    store.listAll([](const StockRecordView &) {});
    const std::string huge = words(std::size_t(megabytes) << 20);
    store.append("A11", "SHORT", "1");
    store.append(huge, huge, huge);

    const Clock::time_point shown = Clock::now();
    StockMain window(std::make_unique<StockStore>(folder.path()), soundsOf(player.get()), {});
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

    // The item editor on the huge record, opened with F2 as from the keyboard.
    list->setCurrentIndex(model->index(1, 0));
    double openMs = 0;
    Clock::time_point opening, closing;
    QTimer::singleShot(0, [&] {
        auto *editor = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!editor)
            std::exit(1);
        QApplication::processEvents();
        openMs = millisecondsSince(opening);
        closing = Clock::now();
        editor->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
    });
    opening = Clock::now();
    press(list, Qt::Key_F2);
    const double closeMs = millisecondsSince(closing);

    // A long code, as a 2D barcode carries, and its quantity.
    auto *itemBox = window.findChild<QLineEdit *>(QStringLiteral("itemBox"));
    const QString code = QString::fromStdString(words(std::size_t(scanKilobytes) << 10));
    const Clock::time_point scanning = Clock::now();
    scan(itemBox, code);
    scan(window.findChild<QLineEdit *>(QStringLiteral("quantityBox")), QStringLiteral("QTY:1"));
    while (model->rowCount() < 3)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double scanMs = millisecondsSince(scanning);
    std::string stored;
    store.load({RecordKey::Place::Stored, 3}, [&](const RecordResult &loaded) { stored = loaded.record.stockCode; });
    if (model->rowCount() != 3 || stored != code.toStdString())
        return 1;

    std::printf("cells of %ld MB each: start-up to first paint %.1f ms\n", megabytes, firstPaintMs);
    std::printf("repaint of the row, %d times: median %.2f ms, worst %.2f ms (target: under 20 ms)\n", repaints,
                times[times.size() / 2], times.back());
    std::printf("item editor on the row: open to first paint %.1f ms (target: within 1000 ms), closed in %.1f ms"
                " (target: within 100 ms)\n",
                openMs, closeMs);
    std::printf("scan of a %ld kB code, then its quantity, to the count stored: %.1f ms (target: well"
                " under 1000 ms)\n",
                scanKilobytes, scanMs);
    return 0;
}
