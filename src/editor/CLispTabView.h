// The document tab view: a tab strip above the editor view of the active document.
#pragma once

#include "editor/CTabStrip.h"

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class CTalvexView;
class QKeyEvent;

// One page per open document; exactly one page (the active one) is visible below the strip. The
// view keeps the caption of its title-bar window in step with the pages, tells when the document
// list of the Window menu is to follow them (windowListChanged), switches pages with Ctrl+Tab and
// lets the user drag tabs to a new place. Every change runs with updates suspended and ends in
// one repaint, so nothing flickers.
class CLispTabView : public QWidget
{
    Q_OBJECT

public:
    explicit CLispTabView(QWidget *parent = nullptr);
    ~CLispTabView() override;

    bool AddPage(QWidget *page, const QString &title, int image, CTalvexView *data);
    bool InsertPage(int index, QWidget *page, const QString &title, int image, CTalvexView *data);
    // Removes the tab and destroys the page's window; a neighbour becomes active.
    void RemovePage(int index);
    void RemoveAllPages();

    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    int GetActivePage() const { return m_nActivePage; }
    void SetActivePage(int index);
    bool IsValidPageIndex(int index) const { return index >= 0 && index < GetPageCount(); }

    QWidget *GetPageWindow(int i) const;
    QString GetPageTitle(int i) const;
    CTalvexView *GetPageData(int i) const;

    bool SetPageTitle(int index, const QString &title);
    // The tab's tooltip, which is its title until the title is set again.
    bool SetPageToolTip(int index, const QString &toolTip);
    // Returns the previous image index (0 saved, 1 modified), -1 for an invalid index.
    int SetPageImage(int index, int image);
    bool MovePage(int from, int to);

    void SetTitleBarWindow(QWidget *w);
    // Emits windowListChanged.
    void UpdateWindowMenu();
    void UpdateTitleBar();
    // The titles of all pages in tab order, as the Window menu lists them.
    QStringList PageTitles() const;

    // The keyboard filter step of the frame: Ctrl+Tab / Ctrl+Shift+Tab switch pages (consumed
    // even with a single tab), Escape cancels a tab drag. Returns true when consumed.
    bool PreTranslateMessage(QKeyEvent *ev);

    // The text a tab shows for a title: whole up to the limit, else cut with "...".
    static QString ShownText(const QString &title, int limit = kTabTextLimit);

    // Layout and drag state, for the window's own use and for tests.
    int GetStripHeight() const { return m_nTabHeight; }
    int CalcTabHeight() const;
    void UpdateLayout();
    CTabStrip &TabStrip() { return m_tabCtrl; }
    bool IsDragging() const { return m_bTabDrag; }
    bool IsMouseCaptured() const { return m_bTabCapture; }
    int GetInsertMark() const { return m_nInsertItem; }
    const QLabel &DragImage() const { return m_dragImage; }

    static constexpr int kTabTextLimit = 30;

signals:
    // After a page became active by insertion, click, Ctrl+Tab, removal or move; -1 when none.
    void pageActivated(int index);
    // After a page was added, removed, moved, retitled or activated: the window list is stale.
    void windowListChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *ev) override;
    void resizeEvent(QResizeEvent *ev) override;
    void focusInEvent(QFocusEvent *ev) override;

private:
    struct PageRecord {
        QPointer<QWidget> window;
        QString title;
        CTalvexView *data = nullptr;
    };

    void OnTabSelChange(int index);
    void SuspendRedraw();
    void ResumeRedraw();
    void DestroyPageWindow(QWidget *w);

    // Tab dragging.
    bool OnStripMousePress(QMouseEvent *ev);
    bool OnStripMouseMove(QMouseEvent *ev);
    bool OnStripMouseRelease(QMouseEvent *ev);
    void StartDrag();
    void MoveInsertMark(int target);
    void EndCapture();

    CTabStrip m_tabCtrl;
    QVector<PageRecord> m_pages;
    int m_nTabHeight = 0;
    int m_nActivePage = -1;
    int m_nInsertItem = -1;
    QPoint m_ptStartDrag;
    QPointer<QWidget> m_titleBar;
    bool m_bHaveTitleBase = false;
    QString m_strTitleBase;
    QLabel m_dragImage;
    bool m_bTabCapture = false;
    bool m_bTabDrag = false;
    int m_nRedrawSuspend = 0;
};
