// The small list that offers the pages of a name that has several.
#pragma once

#include "help/ChmSitemap.h"

#include <QDialog>

class QListWidget;

// One row a page (its title), the first selected, so Enter opens it; Escape chooses none.
class CTopicChooser : public QDialog
{
    Q_OBJECT

public:
    CTopicChooser(const QString &name, const QList<ChmTopic> &topics, QWidget *parent = nullptr);

    QListWidget *List() const { return m_pList; }

signals:
    void topicChosen(const ChmTopic &topic);

private:
    void Choose();

    QList<ChmTopic> m_topics;
    QListWidget *m_pList = nullptr;
};
