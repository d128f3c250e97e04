// The bar above an editor that says its file was changed or deleted by another program.
#pragma once

#include "platform/FileVersion.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <optional>

// Not a dialog: the window stays usable while the bar waits for an answer. For a changed file it
// offers Reload (the text on disk replaces the document's, one undo step brings it back) and
// Keep my text; for a deleted one only the latter, since saving re-creates the file.
class CDiskChangeBar : public QFrame
{
    Q_OBJECT

public:
    enum class Kind { Changed, Deleted };

    explicit CDiskChangeBar(QWidget *parent);

    void SetKind(Kind kind);
    Kind GetKind() const { return m_kind; }
    QString Text() const { return m_text.text(); }
    QPushButton &ReloadButton() { return m_reload; }
    QPushButton &KeepButton() { return m_keep; }

    // The version on disk that the user chose to keep the text against: the bar does not come
    // back for it, only for a later one.
    std::optional<platform::FileVersion> m_keptAgainst;

signals:
    void reloadClicked();
    void keepClicked();

private:
    QLabel m_text;
    QPushButton m_reload;
    QPushButton m_keep;
    Kind m_kind = Kind::Changed;
};
