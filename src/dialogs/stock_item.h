#pragma once

#include "scanning/record_texts.h"

#include <QDialog>

#include <memory>

namespace Ui {
class StockItem;
}

// The item editor: shows one stored record's texts to be overwritten or the
// record deleted. A text too long to edit in a box is shown by its start and
// saved as it came. It stays open until its owner, having carried out Save or
// Delete, closes it with accept(); Close closes it without a word.
class StockItem : public QDialog {
    Q_OBJECT

public:
    explicit StockItem(const RecordTexts &record, QWidget *parent = nullptr);
    ~StockItem() override;

    enum class Chosen { Save, Delete };

    // Says that the record was changed elsewhere since the editor opened, so that
    // what the operator chose was not done, and shows it as it is now in place of
    // the operator's edits.
    void showChangedElsewhere(const RecordTexts &current, Chosen chosen);

signals:
    void saveChosen(const RecordTexts &edited);
    void deleteChosen();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showTexts(const RecordTexts &record);
    RecordTexts edited() const;

    std::unique_ptr<Ui::StockItem> ui;
    RecordTexts m_record; // as last shown
};
