#pragma once

#include "scanning/scan_rules.h"

#include <QDialog>

#include <memory>

namespace Ui {
class LocationSelect;
}

// Sets one piece of the location (row, rack or shelf) by hand: Set tells which
// piece and the value typed, as often as the operator likes, until Close.
class LocationSelect : public QDialog {
    Q_OBJECT

public:
    explicit LocationSelect(QWidget *parent = nullptr);
    ~LocationSelect() override;

signals:
    void pieceChosen(LocationPiece piece, const QString &value);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setPiece();

    std::unique_ptr<Ui::LocationSelect> ui;
};
