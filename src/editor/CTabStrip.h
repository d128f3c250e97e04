// The document tab strip: wrapping rows of tabs with a 5 x 5 state image, tooltips and an insert mark.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

// A small tab control of our own. It knows only what it shows: per tab the shown text, the full
// title for the tooltip and an image index (0 saved, 1 modified). Tabs run left to right and wrap
// into further rows when the width is used up; indices count left to right, row by row. A click
// selects a tab and emits currentChanged; what selection means is up to the owner, which also
// runs tab dragging (it watches this widget's mouse events) and places the insert mark.
class CTabStrip : public QWidget
{
    Q_OBJECT

public:
    explicit CTabStrip(QWidget *parent = nullptr);

    // Inserts a tab; returns its index, or -1 when the index is out of 0..count.
    int InsertTab(int index, const QString &text, const QString &toolTip, int image);
    bool DeleteTab(int index);
    void DeleteAllTabs();
    int GetTabCount() const { return static_cast<int>(m_tabs.size()); }

    bool SetTabText(int index, const QString &text, const QString &toolTip);
    QString GetTabText(int index) const;
    QString GetTabToolTip(int index) const;
    // Returns the previous image index, or -1 for an invalid tab.
    int SetTabImage(int index, int image);
    int GetTabImage(int index) const;

    int GetCurSel() const { return m_nCurSel; }
    void SetCurSel(int index);

    // Tab under a point in widget coordinates, -1 if none.
    int HitTest(const QPoint &pos) const;
    QRect GetItemRect(int index) const;
    int GetRowCount() const;
    int GetTabHeight() const;

    // The insert mark: a 7-pixel strip around the left or right edge of a tab, -1 for none.
    void SetInsertMark(int index, bool rightEdge);
    int GetInsertMark() const { return m_nInsertMark; }
    QRect InsertMarkRect() const { return m_rcInsertMark; }

    // The two 5 x 5 images (0 green, 1 red).
    static QPixmap TabImage(int image);

    // Number of paint events so far; lets a test check that a change paints once.
    int PaintCount() const { return m_nPaintCount; }

    QSize sizeHint() const override;

signals:
    // The user clicked a tab other than the selected one; the selection has already moved.
    void currentChanged(int index);

protected:
    bool event(QEvent *ev) override;
    void paintEvent(QPaintEvent *ev) override;
    void resizeEvent(QResizeEvent *ev) override;
    void mousePressEvent(QMouseEvent *ev) override;
    void mouseReleaseEvent(QMouseEvent *ev) override;
    void contextMenuEvent(QContextMenuEvent *ev) override;
    void changeEvent(QEvent *ev) override;

private:
    struct Tab {
        QString text;
        QString toolTip;
        int image = 0;
    };

    void InvalidateLayout();
    void EnsureLayout() const;
    int TabWidth(const Tab &tab) const;
    QRect MarkStrip(int index, bool rightEdge) const;

    QVector<Tab> m_tabs;
    int m_nCurSel = -1;
    int m_nInsertMark = -1;
    QRect m_rcInsertMark;
    int m_nPaintCount = 0;

    // Layout cache: one rectangle per tab, valid for m_nLayoutWidth.
    mutable QVector<QRect> m_rects;
    mutable int m_nRows = 0;
    mutable int m_nLayoutWidth = -1;
    mutable bool m_bLayoutValid = false;
};
