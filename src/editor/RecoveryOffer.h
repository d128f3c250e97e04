// At start: the documents a crash left unsaved, offered and restored, discarded or kept.
#pragma once

class CDocumentManager;
class CRecoveryJournals;
class QWidget;

// Shows "Recover unsaved changes" when the journals' folder holds journals of instances that are
// gone, and carries out the answer: the checked documents are restored (Restore) or moved aside
// (Discard); unchecked ones, those that cannot be read, and all at Later stay for the next start.
void OfferRecovery(QWidget *owner, CDocumentManager &docs, CRecoveryJournals &journals);
