// The event that carries text bound for the Lisp process from an editor view to the main frame.
#pragma once

#include <QByteArray>
#include <QEvent>

#include <utility>

// Delivered synchronously with QCoreApplication::sendEvent(view->window(), &ev): the text lives
// in the event, which belongs to the sender and outlives the handler.
class SendToLispEvent : public QEvent
{
public:
    static constexpr QEvent::Type Type = static_cast<QEvent::Type>(1026);
    explicit SendToLispEvent(QByteArray text) : QEvent(Type), m_text(std::move(text)) {}
    QByteArray &Text() { return m_text; }

private:
    QByteArray m_text;
};
