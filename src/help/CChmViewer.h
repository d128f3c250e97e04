// The window that shows a compiled HTML help file outside Windows.
#pragma once

#include "help/CChmFile.h"

#include <QMainWindow>

class CChmBrowser;

// A top-level window owned by the main frame: the file's default topic in a browser with Back,
// Forward and Home; the title is the file's own. A file that cannot be read leaves one line
// naming its path; a file that is nowhere, the list of places it was looked for.
class CChmViewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit CChmViewer(QWidget *owner = nullptr);
    ~CChmViewer() override;

    // Opens the file at its default topic; false when it cannot be read (the message shows).
    bool Open(const QString &path);
    // Says that the file was found in none of places (full paths, in the order looked in).
    void ShowNotFound(const QStringList &places);
    bool IsOpen() const { return m_file.IsOpen(); }
    const CChmFile &File() const { return m_file; }
    CChmBrowser *Browser() const { return m_pBrowser; }
    void GoHome();

private:
    void UpdateTitle();

    CChmFile m_file; // declared before the browser, which reads from it
    CChmBrowser *m_pBrowser = nullptr;
};
