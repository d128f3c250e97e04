// Interface of the application's message filter, served by the main frame.
#pragma once

class QKeyEvent;
class QUrl;
class QWidget;
template <typename T> class QList;

// Sees every key press of the GUI thread before the widget it is meant for, outside modal
// dialogs and open menus. True means the key is consumed.
class CMessageFilter
{
public:
    virtual bool PreTranslateMessage(QKeyEvent *ev) = 0;
    // Key combinations for which PreTranslateMessage is to see the press even where a widget or
    // shortcut would otherwise claim it first.
    virtual bool IsAccelerator(QKeyEvent *ev) const = 0;
    // Files dropped anywhere on the window; true when the drop was taken.
    virtual bool OnDropFiles(const QList<QUrl> &urls) = 0;
    // The top-level window whose drops OnDropFiles receives.
    virtual const QWidget *DropWindow() const = 0;

protected:
    ~CMessageFilter() = default;
};
