// The modeless Find / Replace dialog: texts, options and buttons, reported as FR_* flags.
#pragma once

#include <QByteArray>
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// One dialog at a time, owned by the main frame and deleted when it closes. Its kind (find only,
// or find and replace) is fixed when it is created. Every button press is reported through
// findReplace(); the receiver reads Flags(), FindWhat() and ReplaceWith() right then.
class CFindReplaceDialog : public QDialog
{
    Q_OBJECT

public:
    // The flag values of the find/replace block.
    enum : unsigned {
        FR_DOWN = 0x1,
        FR_WHOLEWORD = 0x2,
        FR_MATCHCASE = 0x4,
        FR_FINDNEXT = 0x8,
        FR_REPLACE = 0x10,
        FR_REPLACEALL = 0x20,
        FR_DIALOGTERM = 0x40,
    };
    // Each text buffer holds 128 characters with its terminator, so 127 of text.
    static constexpr int MaxTextLength = 127;

    // findWhat is bytes (UTF-8); it is cut to MaxTextLength characters. The dialog starts with
    // FR_DOWN set and both options off.
    CFindReplaceDialog(bool findOnly, const QByteArray &findWhat, QWidget *parent);
    ~CFindReplaceDialog() override;

    bool IsFindOnly() const { return m_bFindOnly; }
    // Direction and option bits plus the bit of the action being reported (at most one of
    // FR_FINDNEXT, FR_REPLACE, FR_REPLACEALL, FR_DIALOGTERM).
    unsigned Flags() const;
    QByteArray FindWhat() const;
    QByteArray ReplaceWith() const;

    // The same as pressing the buttons; they do nothing while the button is disabled (no text
    // to find), so an empty find text never reaches the search.
    void FindNext();
    void Replace();
    void ReplaceAll();

    // Used by tests and by whoever sets the dialog up programmatically.
    void SetFindWhat(const QString &text);
    void SetReplaceWith(const QString &text);
    void SetSearchDown(bool down);
    void SetMatchCase(bool on);
    void SetWholeWord(bool on);

    QPushButton *FindNextButton() const { return m_pFindNext; }
    QPushButton *ReplaceButton() const { return m_pReplace; }
    QPushButton *ReplaceAllButton() const { return m_pReplaceAll; }
    QPushButton *CancelButton() const { return m_pCancel; }
    QLineEdit *FindEdit() const { return m_pFindEdit; }

signals:
    // A button was pressed (or the dialog is closing: FR_DIALOGTERM). Emitted synchronously.
    void findReplace();

protected:
    void keyPressEvent(QKeyEvent *ev) override;
    void done(int result) override;

private:
    void Notify(unsigned action);
    void UpdateButtons();

    bool m_bFindOnly;
    bool m_bClosing = false;
    unsigned m_nAction = 0;
    QLineEdit *m_pFindEdit = nullptr;
    QLineEdit *m_pReplaceEdit = nullptr;
    QCheckBox *m_pWholeWord = nullptr;
    QCheckBox *m_pMatchCase = nullptr;
    QRadioButton *m_pUp = nullptr;
    QRadioButton *m_pDown = nullptr;
    QPushButton *m_pFindNext = nullptr;
    QPushButton *m_pReplace = nullptr;
    QPushButton *m_pReplaceAll = nullptr;
    QPushButton *m_pCancel = nullptr;
};
