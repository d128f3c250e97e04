// The dialog at start that offers the unsaved changes a crash left behind.
#include "editor/CRecoveryDialog.h"

#include "editor/CDocumentManager.h"

#include <QDateTime>

#include <algorithm>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QStringList Columns(const CLeftOver &l)
{
    const QString when = QLocale().toString(QDateTime::fromMSecsSinceEpoch(l.lastChangeMs), QLocale::ShortFormat);
    const CJournalContents &c = l.contents;
    if (!c.ok) {
        const QFileInfo journal(l.journalPath);
        return {journal.fileName(), QDir::toNativeSeparators(journal.path()), when,
                QStringLiteral("cannot be read: %1").arg(c.error)};
    }
    const CJournalHeader &h = c.header;
    const QString name = h.path.isEmpty() ? QStringLiteral("untitled (%1)").arg(h.title) : CDocumentManager::FileTitle(h.path);
    const QString folder = h.path.isEmpty() ? QString() : QDir::toNativeSeparators(QFileInfo(h.path).path());
    // The warning first, where a narrow column still shows it.
    QString changed = l.diskChanged ? QStringLiteral("the file on disk has changed since; ") : QString();
    changed += c.edits == 1 ? QStringLiteral("1 edit") : QStringLiteral("%1 edits").arg(c.edits);
    changed += QStringLiteral(", %1").arg(QLocale().formattedDataSize(c.text.size()));
    return {name, folder, when, changed};
}

} // namespace

CRecoveryDialog::CRecoveryDialog(const QList<CLeftOver> &leftOvers, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Talvex"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(QStringLiteral("Recover unsaved changes"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    layout->addWidget(new QLabel(QStringLiteral("Talvex ended without saving these documents. "
                                                "Restore opens the checked ones with their changes."), this));

    m_pList = new QTreeWidget(this);
    m_pList->setRootIsDecorated(false);
    m_pList->setHeaderLabels({QStringLiteral("Document"), QStringLiteral("Folder"), QStringLiteral("Last change"),
                              QStringLiteral("Changes")});
    for (const CLeftOver &l : leftOvers) {
        auto *item = new QTreeWidgetItem(m_pList, Columns(l));
        if (l.contents.ok) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Checked);
        } else {
            item->setFlags(item->flags() & ~(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled));
        }
    }
    int width = 0;
    for (int c = 0; c < m_pList->columnCount(); ++c) {
        m_pList->resizeColumnToContents(c);
        width += m_pList->columnWidth(c);
    }
    layout->addWidget(m_pList);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *restore = buttons->addButton(QStringLiteral("Restore"), QDialogButtonBox::AcceptRole);
    QPushButton *discard = buttons->addButton(QStringLiteral("Discard"), QDialogButtonBox::DestructiveRole);
    QPushButton *later = buttons->addButton(QStringLiteral("Later"), QDialogButtonBox::RejectRole);
    restore->setDefault(true);
    restore->setFocus();
    connect(restore, &QPushButton::clicked, this, [this] { m_choice = Restore; accept(); });
    connect(discard, &QPushButton::clicked, this, [this] { m_choice = Discard; accept(); });
    connect(later, &QPushButton::clicked, this, [this] { m_choice = Later; reject(); });
    layout->addWidget(buttons);
    // Wide enough for every column, the note of a changed file included, as far as the screen allows.
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const int most = screen ? screen->availableGeometry().width() * 9 / 10 : 1200;
    resize(std::clamp(width + 60, 640, std::max(640, most)), sizeHint().height());
}

bool CRecoveryDialog::IsChecked(int i) const
{
    const QTreeWidgetItem *item = m_pList->topLevelItem(i);
    return item && (item->flags() & Qt::ItemIsUserCheckable) && item->checkState(0) == Qt::Checked;
}
