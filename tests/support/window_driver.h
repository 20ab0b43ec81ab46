#pragma once

#include "stock_fixture.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class StockListModel;

// A control of a window by its name; the test stops when it is missing.
template<typename Widget>
Widget *control(const QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// The names of the controls that Tab visits, from the one with the focus round to it again.
QStringList tabStops();

// Types text one character at a time, as a keyboard would, any Unicode character included.
void typeText(QWidget *widget, const QString &text);

// The stock list's rows as rows of the table: each row's id and its three texts.
std::vector<TableRow> listedRows(const StockListModel &list);

// Runs open, which may show a modal Dialog; once it is up, interact runs inside its
// loop and whatever it leaves open is closed, so a failed check cannot hang the test.
// Returns whether such a dialog came up.
template<typename Dialog>
bool whileModal(const std::function<void()> &open, const std::function<void(Dialog &)> &interact)
{
    bool opened = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            poll.stop();
            opened = true;
            interact(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    poll.start(0);
    open();
    return opened;
}
