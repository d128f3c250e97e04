// The dialog at start that offers the unsaved changes a crash left behind.
#pragma once

#include "editor/CRecoveryJournals.h"

#include <QDialog>
#include <QList>

class QTreeWidget;

// "Recover unsaved changes": one checked line per document (name, folder, last change, how much
// changed, whether its file changed on disk since); journals that cannot be read are named but
// cannot be chosen. Restore is the default button, so Enter restores.
class CRecoveryDialog : public QDialog
{
    Q_OBJECT

public:
    enum Choice { Later, Restore, Discard };

    CRecoveryDialog(const QList<CLeftOver> &leftOvers, QWidget *parent = nullptr);

    // The button the dialog was closed with; closing it otherwise is Later.
    Choice GetChoice() const { return m_choice; }
    // Whether entry i is checked (never for one that cannot be read).
    bool IsChecked(int i) const;
    QTreeWidget *List() const { return m_pList; }

private:
    QTreeWidget *m_pList = nullptr;
    Choice m_choice = Later;
};
