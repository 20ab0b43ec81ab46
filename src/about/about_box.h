#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutBox;
}
class QAccessibleInterface;
class QLabel;

// The About box: product name, version, the maker's notices, three labels
// that open the maker's web site, and the folder the station keeps stock.mdb in.
// Made afresh for every showing.
class AboutBox : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(const QString &dataFolder, QWidget *parent = nullptr);
    ~AboutBox() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::AboutBox> ui;
};

// The box as assistive technology reads it: its texts and controls, without
// its decorations.
QAccessibleInterface *accessibleAboutBox(const QString &className, QObject *object);
