// The find bar under a help page: Ctrl+F shows it, Enter finds the next match, Escape hides it.
#include "help/CChmFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>
#include <QToolButton>

CChmFindBar::CChmFindBar(QTextBrowser &browser, QWidget *parent)
    : QWidget(parent), m_browser(browser)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(tr("Find:"), this));
    m_pField = new QLineEdit(this);
    m_pField->setClearButtonEnabled(true);
    layout->addWidget(m_pField, 1);
    auto *previous = new QToolButton(this);
    previous->setText(tr("Previous"));
    auto *next = new QToolButton(this);
    next->setText(tr("Next"));
    layout->addWidget(previous);
    layout->addWidget(next);
    m_pMessage = new QLabel(this);
    layout->addWidget(m_pMessage, 1);
    auto *close = new QToolButton(this);
    close->setText(tr("Close"));
    layout->addWidget(close);

    connect(next, &QToolButton::clicked, this, [this] { FindNext(false); });
    connect(previous, &QToolButton::clicked, this, [this] { FindNext(true); });
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    connect(m_pField, &QLineEdit::textChanged, m_pMessage, &QLabel::clear);
    m_pField->installEventFilter(this);
    hide();
}

void CChmFindBar::Activate()
{
    show();
    m_pField->setFocus();
    m_pField->selectAll();
}

QString CChmFindBar::Message() const
{
    return m_pMessage->text();
}

bool CChmFindBar::FindNext(bool backwards)
{
    const QString text = m_pField->text();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    bool found = m_browser.find(text, flags);
    if (!found) {
        // Round again from the other end of the page.
        const QTextCursor kept = m_browser.textCursor();
        m_browser.moveCursor(backwards ? QTextCursor::End : QTextCursor::Start);
        found = m_browser.find(text, flags);
        if (!found)
            m_browser.setTextCursor(kept);
    }
    m_pMessage->setText(found ? QString() : tr("\"%1\" is not in this page.").arg(text));
    return found;
}

bool CChmFindBar::eventFilter(QObject *watched, QEvent *e)
{
    if (watched != m_pField)
        return QWidget::eventFilter(watched, e);
    // Escape belongs to the bar while it has the focus, not to the window's close shortcut.
    if (e->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Escape) {
        e->accept();
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(e);
        if (key->key() == Qt::Key_Escape) {
            hide();
            m_browser.setFocus();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FindNext(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}
