// The bar above an editor that says its file was changed or deleted by another program.
#include "editor/CDiskChangeBar.h"

#include <QHBoxLayout>
#include <QStyle>

CDiskChangeBar::CDiskChangeBar(QWidget *parent)
    : QFrame(parent)
    , m_text(this)
    , m_reload(QStringLiteral("Reload"), this)
    , m_keep(QStringLiteral("Keep my text"), this)
{
    // A warning's colours from the palette's tool-tip roles: readable in light and dark themes.
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    m_text.setForegroundRole(QPalette::ToolTipText);
    // The buttons take no focus from the text, so typing goes on while the bar waits.
    m_reload.setFocusPolicy(Qt::NoFocus);
    m_keep.setFocusPolicy(Qt::NoFocus);
    m_reload.setToolTip(QStringLiteral("Show the text on disk; Undo brings your text back"));

    auto *layout = new QHBoxLayout(this); // owned by the bar
    layout->setContentsMargins(6, 2, 6, 2);
    auto *icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    layout->addWidget(icon);
    layout->addWidget(&m_text, 1);
    layout->addWidget(&m_reload);
    layout->addWidget(&m_keep);

    connect(&m_reload, &QPushButton::clicked, this, &CDiskChangeBar::reloadClicked);
    connect(&m_keep, &QPushButton::clicked, this, &CDiskChangeBar::keepClicked);
    SetKind(Kind::Changed);
}

void CDiskChangeBar::SetKind(Kind kind)
{
    m_kind = kind;
    m_text.setText(kind == Kind::Changed ? QStringLiteral("This file has changed on disk.")
                                         : QStringLiteral("This file was deleted on disk. Saving re-creates it."));
    m_reload.setVisible(kind == Kind::Changed);
}
