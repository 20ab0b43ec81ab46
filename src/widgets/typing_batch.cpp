#include "widgets/typing_batch.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>

namespace {

// A key that a line box takes as text to insert.
bool isTyping(const QKeyEvent &key)
{
    const QString text = key.text();
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); })
        && !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

// Shift and its kin change no text: a scanner presses Shift for each capital.
bool isModifierOnly(const QKeyEvent &key)
{
    switch (key.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

} // namespace

TypingBatch::TypingBatch(std::initializer_list<QLineEdit *> boxes, QObject *parent) : QObject(parent), m_boxes(boxes)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(pauseMs);
    connect(&m_pause, &QTimer::timeout, this, &TypingBatch::flush);
    // Before any window's own filters, so they see every key in its order.
    qApp->installEventFilter(this);
}

void TypingBatch::flush()
{
    m_pause.stop();
    if (m_text.isEmpty())
        return;
    if (m_box)
        m_box->insert(m_text);
    m_text.clear();
}

bool TypingBatch::eventFilter(QObject *watched, QEvent *event)
{
    // Input reaches a window before the widget it is for.
    if (!watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto &key = *static_cast<QKeyEvent *>(event);
        auto *box = qobject_cast<QLineEdit *>(watched);
        if (box && m_boxes.contains(box) && !box->isReadOnly() && isTyping(key)) {
            if (box != m_box)
                flush();
            m_box = box;
            m_text += key.text();
            m_pause.start();
            return true;
        }
        if (!isModifierOnly(key))
            flush();
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::InputMethod:
        flush();
        return false;
    default:
        return false;
    }
}
