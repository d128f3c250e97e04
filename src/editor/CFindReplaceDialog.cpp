// The modeless Find / Replace dialog: layout, button states and the notifications it sends.
#include "editor/CFindReplaceDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// Cuts to at most max UTF-16 units without splitting a surrogate pair.
QString CutText(QString text, int max)
{
    if (text.size() > max) {
        int n = max;
        if (n > 0 && text.at(n - 1).isHighSurrogate())
            --n;
        text.truncate(n);
    }
    return text;
}

QPushButton *MakeButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    // Enter is handled by the dialog itself (one Find Next), never by whichever button has focus.
    button->setAutoDefault(false);
    return button;
}

} // namespace

CFindReplaceDialog::CFindReplaceDialog(bool findOnly, const QByteArray &findWhat, QWidget *parent)
    : QDialog(parent), m_bFindOnly(findOnly)
{
    setWindowTitle(findOnly ? tr("Find") : tr("Replace"));
    setWindowFlags((windowFlags() | Qt::Dialog) & ~Qt::WindowContextHelpButtonHint);
    setModal(false);

    m_pFindEdit = new QLineEdit(this);
    m_pFindEdit->setMaxLength(MaxTextLength);
    auto *findLabel = new QLabel(tr("Fi&nd what:"), this);
    findLabel->setBuddy(m_pFindEdit);

    m_pWholeWord = new QCheckBox(tr("Match &whole word only"), this);
    m_pMatchCase = new QCheckBox(tr("Match &case"), this);

    m_pFindNext = MakeButton(tr("&Find Next"), this);
    m_pCancel = MakeButton(tr("Cancel"), this);

    auto *grid = new QGridLayout(this);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(m_pFindEdit, 0, 1);
    grid->addWidget(m_pFindNext, 0, 2);

    auto *options = new QVBoxLayout;
    options->addWidget(m_pWholeWord);
    options->addWidget(m_pMatchCase);
    options->addStretch();

    if (findOnly) {
        auto *direction = new QGroupBox(tr("Direction"), this);
        m_pUp = new QRadioButton(tr("&Up"), direction);
        m_pDown = new QRadioButton(tr("&Down"), direction);
        auto *dirLayout = new QHBoxLayout(direction);
        dirLayout->addWidget(m_pUp);
        dirLayout->addWidget(m_pDown);
        m_pDown->setChecked(true);

        auto *lower = new QHBoxLayout;
        lower->addLayout(options);
        lower->addWidget(direction);
        grid->addLayout(lower, 1, 0, 2, 2);
        grid->addWidget(m_pCancel, 1, 2);
    } else {
        m_pReplaceEdit = new QLineEdit(this);
        m_pReplaceEdit->setMaxLength(MaxTextLength);
        auto *replaceLabel = new QLabel(tr("Re&place with:"), this);
        replaceLabel->setBuddy(m_pReplaceEdit);
        m_pReplace = MakeButton(tr("&Replace"), this);
        m_pReplaceAll = MakeButton(tr("Replace &All"), this);

        grid->addWidget(replaceLabel, 1, 0);
        grid->addWidget(m_pReplaceEdit, 1, 1);
        grid->addWidget(m_pReplace, 1, 2);
        grid->addWidget(m_pReplaceAll, 2, 2);
        grid->addLayout(options, 2, 0, 2, 2);
        grid->addWidget(m_pCancel, 3, 2);
        connect(m_pReplace, &QPushButton::clicked, this, &CFindReplaceDialog::Replace);
        connect(m_pReplaceAll, &QPushButton::clicked, this, &CFindReplaceDialog::ReplaceAll);
    }
    // Tab walks the fields as they are laid out: the texts, the options, then the buttons.
    QList<QWidget *> order = {m_pFindEdit, m_pReplaceEdit, m_pWholeWord, m_pMatchCase, m_pUp, m_pDown,
                              m_pFindNext, m_pReplace, m_pReplaceAll, m_pCancel};
    order.removeAll(nullptr);
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    grid->setColumnMinimumWidth(1, 220);
    grid->setRowStretch(grid->rowCount(), 1);

    // Shown as the default button; Enter itself is routed by keyPressEvent.
    m_pFindNext->setDefault(true);
    connect(m_pFindNext, &QPushButton::clicked, this, &CFindReplaceDialog::FindNext);
    connect(m_pCancel, &QPushButton::clicked, this, &CFindReplaceDialog::reject);
    connect(m_pFindEdit, &QLineEdit::textChanged, this, &CFindReplaceDialog::UpdateButtons);

    m_pFindEdit->setText(CutText(QString::fromUtf8(findWhat), MaxTextLength));
    m_pFindEdit->selectAll();
    m_pFindEdit->setFocus();
    UpdateButtons();
}

CFindReplaceDialog::~CFindReplaceDialog() = default;

unsigned CFindReplaceDialog::Flags() const
{
    unsigned flags = m_nAction;
    if (!m_pUp || !m_pUp->isChecked())
        flags |= FR_DOWN;
    if (m_pWholeWord->isChecked())
        flags |= FR_WHOLEWORD;
    if (m_pMatchCase->isChecked())
        flags |= FR_MATCHCASE;
    return flags;
}

QByteArray CFindReplaceDialog::FindWhat() const
{
    return m_pFindEdit->text().toUtf8();
}

QByteArray CFindReplaceDialog::ReplaceWith() const
{
    return m_pReplaceEdit ? m_pReplaceEdit->text().toUtf8() : QByteArray();
}

void CFindReplaceDialog::FindNext()
{
    if (m_pFindNext->isEnabled())
        Notify(FR_FINDNEXT);
}

void CFindReplaceDialog::Replace()
{
    if (m_pReplace && m_pReplace->isEnabled())
        Notify(FR_REPLACE);
}

void CFindReplaceDialog::ReplaceAll()
{
    if (m_pReplaceAll && m_pReplaceAll->isEnabled())
        Notify(FR_REPLACEALL);
}

void CFindReplaceDialog::SetFindWhat(const QString &text)
{
    m_pFindEdit->setText(CutText(text, MaxTextLength));
}

void CFindReplaceDialog::SetReplaceWith(const QString &text)
{
    if (m_pReplaceEdit)
        m_pReplaceEdit->setText(CutText(text, MaxTextLength));
}

void CFindReplaceDialog::SetSearchDown(bool down)
{
    if (m_pUp)
        (down ? m_pDown : m_pUp)->setChecked(true);
}

void CFindReplaceDialog::SetMatchCase(bool on)
{
    m_pMatchCase->setChecked(on);
}

void CFindReplaceDialog::SetWholeWord(bool on)
{
    m_pWholeWord->setChecked(on);
}

void CFindReplaceDialog::keyPressEvent(QKeyEvent *ev)
{
    const int key = ev->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter)
        && !(ev->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        FindNext();
        ev->accept();
        return;
    }
    QDialog::keyPressEvent(ev); // Escape closes
}

void CFindReplaceDialog::done(int result)
{
    if (m_bClosing)
        return;
    m_bClosing = true;
    Notify(FR_DIALOGTERM);
    QDialog::done(result);
    // The dialog owns itself from the user's point of view: once closed it is gone.
    deleteLater();
}

void CFindReplaceDialog::Notify(unsigned action)
{
    m_nAction = action;
    emit findReplace();
    m_nAction = 0;
}

void CFindReplaceDialog::UpdateButtons()
{
    const bool hasText = !m_pFindEdit->text().isEmpty();
    m_pFindNext->setEnabled(hasText);
    if (m_pReplace)
        m_pReplace->setEnabled(hasText);
    if (m_pReplaceAll)
        m_pReplaceAll->setEnabled(hasText);
}
