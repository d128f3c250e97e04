// At start: the documents a crash left unsaved, offered and restored, discarded or kept.
#include "editor/RecoveryOffer.h"

#include "editor/CDocumentManager.h"
#include "editor/CRecoveryDialog.h"
#include "editor/CRecoveryJournals.h"
#include "editor/CTalvexView.h"

void OfferRecovery(QWidget *owner, CDocumentManager &docs, CRecoveryJournals &journals)
{
    QList<CLeftOver> found = journals.FindLeftOvers();
    if (found.isEmpty())
        return;
    CRecoveryDialog dialog(found, owner);
    dialog.exec();
    const CRecoveryDialog::Choice choice = dialog.GetChoice();
    for (int i = 0; i < found.size(); ++i) {
        if (choice == CRecoveryDialog::Later || !dialog.IsChecked(i))
            continue;
        CLeftOver &leftOver = found[i];
        if (choice == CRecoveryDialog::Discard) {
            journals.Discard(std::move(leftOver));
            continue;
        }
        if (CTalvexView *view = docs.RestoreDocument(leftOver.contents.header, leftOver.contents.text)) {
            leftOver.contents.text = QByteArray();
            journals.Restored(view, std::move(leftOver));
        }
    }
    // The rest keep their files, whose locks go now: the next start offers them again.
}
