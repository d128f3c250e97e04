// The small list that offers the pages of a name that has several.
#include "help/CTopicChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CTopicChooser::CTopicChooser(const QString &name, const QList<ChmTopic> &topics, QWidget *parent)
    : QDialog(parent), m_topics(topics)
{
    setWindowTitle(tr("Topics Found"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("%1 has %2 pages. Choose one:").arg(name).arg(topics.size()), this));
    m_pList = new QListWidget(this);
    for (const ChmTopic &topic : topics) {
        // Two pages may carry one title; the page then tells them apart.
        auto *item = new QListWidgetItem(topic.title.isEmpty() ? topic.page : topic.title, m_pList);
        item->setToolTip(topic.page);
    }
    m_pList->setCurrentRow(0);
    layout->addWidget(m_pList);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Open)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTopicChooser::Choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pList, &QListWidget::itemActivated, this, &CTopicChooser::Choose);
    resize(360, 220);
}

void CTopicChooser::Choose()
{
    const int row = m_pList->currentRow();
    if (row >= 0 && row < m_topics.size())
        emit topicChosen(m_topics[row]);
    accept();
}
