#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <initializer_list>

// Puts the keys typed into a box in one piece once the typing pauses. A line
// box lays its whole text out again at every change, so a scanner typing a
// code of kilobytes key by key (a 2D barcode) would otherwise take a time that
// grows with the square of its length. Any other input, the scan's Enter among
// it, puts the waiting text in first, so nothing reads a box without it; a
// pause too short for the eye shows what a hand types.
class TypingBatch : public QObject {
public:
    static constexpr int pauseMs = 30;

    TypingBatch(std::initializer_list<QLineEdit *> boxes, QObject *parent);

    // Puts the text waiting into its box now.
    void flush();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QLineEdit *> m_boxes;
    QPointer<QLineEdit> m_box; // where the waiting text goes
    QString m_text;
    QTimer m_pause;
};
