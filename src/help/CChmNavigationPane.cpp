// The pane beside a help page: the file's contents tree and its keyword index with a filter.
#include "help/CChmNavigationPane.h"

#include "help/CKeywordListModel.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kTopicsRole = Qt::UserRole;

QString PageKey(const QString &page)
{
    const qsizetype hash = page.indexOf(u'#');
    return (hash < 0 ? page : page.left(hash)).toCaseFolded();
}

} // namespace

CChmNavigationPane::CChmNavigationPane(QWidget *parent)
    : QTabWidget(parent)
{
    m_pTree = new QTreeWidget(this);
    m_pTree->setHeaderHidden(true);
    m_pTree->setUniformRowHeights(true);
    m_pTree->header()->setStretchLastSection(true);
    addTab(m_pTree, tr("Contents"));
    connect(m_pTree, &QTreeWidget::itemActivated, this, &CChmNavigationPane::OnContentsActivated);
    connect(m_pTree, &QTreeWidget::itemClicked, this, &CChmNavigationPane::OnContentsActivated);

    auto *index = new QWidget(this);
    auto *layout = new QVBoxLayout(index);
    layout->setContentsMargins(2, 2, 2, 2);
    m_pFilter = new QLineEdit(index);
    m_pFilter->setPlaceholderText(tr("Type the keyword to find"));
    m_pFilter->setClearButtonEnabled(true);
    m_pList = new QListView(index);
    m_pList->setUniformItemSizes(true);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pModel = new CKeywordListModel(m_pList);
    m_pList->setModel(m_pModel);
    layout->addWidget(m_pFilter);
    layout->addWidget(m_pList);
    addTab(index, tr("Index"));
    connect(m_pFilter, &QLineEdit::textChanged, this, &CChmNavigationPane::OnFilterChanged);
    connect(m_pFilter, &QLineEdit::returnPressed, this, &CChmNavigationPane::OpenSelectedKeyword);
    connect(m_pList, &QListView::activated, this, &CChmNavigationPane::OpenSelectedKeyword);
    // Up and Down in the field move through the list, so the hand stays on the keyboard.
    m_pFilter->installEventFilter(this);
    // Typing goes to the filter as soon as the Index tab shows.
    connect(this, &QTabWidget::currentChanged, this, [this](int tab) {
        if (widget(tab) == m_pTree)
            return;
        LoadKeywords();
        m_pFilter->setFocus();
    });
}

CChmNavigationPane::~CChmNavigationPane() = default;

void CChmNavigationPane::SetContents(const ChmSitemap &contents)
{
    m_pTree->clear();
    m_itemOfPage.clear();
    QList<QTreeWidgetItem *> parents; // the last item at each depth
    for (const ChmSitemapEntry &entry : contents) {
        const int depth = std::min<int>(entry.depth, static_cast<int>(parents.size()));
        parents.resize(depth);
        auto *item = depth == 0 ? new QTreeWidgetItem(m_pTree) : new QTreeWidgetItem(parents.last());
        item->setText(0, entry.name);
        item->setData(0, kTopicsRole, QVariant::fromValue(entry.topics));
        for (const ChmTopic &topic : entry.topics)
            m_itemOfPage.insert(PageKey(topic.page), item); // later entries of a page win
        parents.append(item);
    }
}

void CChmNavigationPane::SetKeywordSource(std::function<const ChmSitemap &()> source)
{
    m_keywordSource = std::move(source);
    m_bKeywordsLoaded = false;
    m_pModel->SetEntries({});
    if (currentIndex() != 0)
        LoadKeywords();
}

void CChmNavigationPane::LoadKeywords()
{
    if (m_bKeywordsLoaded || !m_keywordSource)
        return;
    m_bKeywordsLoaded = true;
    m_pModel->SetEntries(m_keywordSource());
    OnFilterChanged(m_pFilter->text());
}

void CChmNavigationPane::ShowIndex()
{
    setCurrentIndex(1);
    LoadKeywords();
    m_pFilter->setFocus();
}

void CChmNavigationPane::SelectPage(const QString &page)
{
    QTreeWidgetItem *item = m_itemOfPage.value(PageKey(page));
    const QSignalBlocker quiet(m_pTree);
    m_pTree->setCurrentItem(item);
    if (item) {
        for (QTreeWidgetItem *up = item->parent(); up; up = up->parent())
            up->setExpanded(true);
        m_pTree->scrollToItem(item);
    } else {
        m_pTree->clearSelection();
    }
}

void CChmNavigationPane::OnFilterChanged(const QString &text)
{
    m_pModel->SetFilter(text);
    const int best = m_pModel->BestRow();
    if (best >= 0) {
        const QModelIndex index = m_pModel->index(best);
        m_pList->setCurrentIndex(index);
        m_pList->scrollTo(index, QAbstractItemView::PositionAtTop);
    }
}

void CChmNavigationPane::OpenSelectedKeyword()
{
    LoadKeywords();
    const ChmSitemapEntry *entry = m_pModel->EntryAt(m_pList->currentIndex().row());
    if (entry && !entry->topics.isEmpty())
        emit topicsChosen(entry->topics, entry->name);
}

void CChmNavigationPane::OnContentsActivated(QTreeWidgetItem *item)
{
    const auto topics = item ? item->data(0, kTopicsRole).value<QList<ChmTopic>>() : QList<ChmTopic>();
    if (!topics.isEmpty())
        emit topicsChosen({topics.first()}, item->text(0));
}

bool CChmNavigationPane::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == m_pFilter && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(e)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            QCoreApplication::sendEvent(m_pList, e);
            return true;
        }
    }
    return QTabWidget::eventFilter(watched, e);
}
