// Find and replace in the active editor view, driven by the modeless CFindReplaceDialog.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>

class CFindReplaceDialog;
class CTalvexView;
class QKeyEvent;
class QWidget;
class QsciScintillaBase;

// Owned by the main frame. Creates the dialog on the first Find or Replace command, performs
// each search the dialog asks for on the view that is active at that moment, and forgets the
// dialog when it closes.
class CFindReplaceController : public QObject
{
    Q_OBJECT

public:
    static constexpr int ID_EDIT_FIND = 57636;
    static constexpr int ID_EDIT_REPLACE = 57641;

    CFindReplaceController(QWidget *frame, std::function<CTalvexView *()> activeView);
    ~CFindReplaceController() override;

    // Search > Find (57636) and Search > Replace (57641): create the dialog if there is none,
    // then show it. Does nothing while no document is open.
    void OnEditFind(int commandId);
    // One notification of the dialog. Returns 1 for the closing notification, else 0.
    int OnFindReplace();
    // The frame's key-filter step: Enter while the dialog is the active window is one Find Next
    // (none while the find text is empty) and is consumed. Returns true when consumed.
    bool PreTranslateKey(QKeyEvent *ev);

    CFindReplaceDialog *Dialog() const;

    // The search itself, on any Scintilla control: flags are the dialog's FR_* bits. With
    // FR_REPLACE or FR_REPLACEALL the current selection is replaced first; with FR_REPLACEALL
    // the step repeats until no match is left. An empty find text does nothing. Returns the
    // number of matches selected.
    static int Search(QsciScintillaBase &view, unsigned flags, const QByteArray &findWhat,
                      const QByteArray &replaceWith);

private:
    QWidget *m_pFrame;
    std::function<CTalvexView *()> m_activeView;
    QPointer<CFindReplaceDialog> m_pFindDlg;
};
