// The find bar under a help page: Ctrl+F shows it, Enter finds the next match, Escape hides it.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;

// Searches the page shown, ignoring case, from the selection on and round again from the top;
// Shift+Enter searches backwards. A text found nowhere in the page is said beside the field.
class CChmFindBar : public QWidget
{
    Q_OBJECT

public:
    explicit CChmFindBar(QTextBrowser &browser, QWidget *parent = nullptr);

    void Activate();
    bool FindNext(bool backwards = false);
    QLineEdit *Field() const { return m_pField; }
    QString Message() const;

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    QTextBrowser &m_browser;
    QLineEdit *m_pField = nullptr;
    QLabel *m_pMessage = nullptr;
};
