// The pane beside a help page: the file's contents tree and its keyword index with a filter.
#pragma once

#include "help/ChmSitemap.h"

#include <QHash>
#include <QTabWidget>

#include <functional>

class QLineEdit;
class QListView;
class QTreeWidget;
class QTreeWidgetItem;
class CKeywordListModel;

// "Contents" shows the .hhc tree and follows the page shown; "Index" lists the keywords, typing
// in its field narrows the list to those that hold the text, and Enter (or a double click) opens
// the selected one. The index is read the first time its tab is shown.
class CChmNavigationPane : public QTabWidget
{
    Q_OBJECT

public:
    explicit CChmNavigationPane(QWidget *parent = nullptr);
    ~CChmNavigationPane() override;

    void SetContents(const ChmSitemap &contents);
    // Where the keywords come from; read once, when the Index tab is first shown.
    void SetKeywordSource(std::function<const ChmSitemap &()> source);
    // Selects the contents entry of page (an object path), or none when it has none.
    void SelectPage(const QString &page);

    QTreeWidget *ContentsTree() const { return m_pTree; }
    QLineEdit *IndexFilter() const { return m_pFilter; }
    QListView *IndexList() const { return m_pList; }
    void ShowIndex();

signals:
    // The user chose an entry: its pages (one or more) and its name.
    void topicsChosen(const QList<ChmTopic> &topics, const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    void OnFilterChanged(const QString &text);
    void OpenSelectedKeyword();
    void OnContentsActivated(QTreeWidgetItem *item);
    void LoadKeywords();

    QTreeWidget *m_pTree = nullptr;
    QLineEdit *m_pFilter = nullptr;
    QListView *m_pList = nullptr;
    CKeywordListModel *m_pModel = nullptr;
    std::function<const ChmSitemap &()> m_keywordSource;
    bool m_bKeywordsLoaded = false;
    QHash<QString, QTreeWidgetItem *> m_itemOfPage; // case-folded page without fragment
};
