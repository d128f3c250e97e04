// Help > About Talvex: picture, version line from the build date and hour, web address, copyright.
#include "help/CAboutDlg.h"

#include "help/AboutInfo.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>

#ifndef TALVEX_BUILD_STAMP
#define TALVEX_BUILD_STAMP "1970-01-01 00"
#endif

// The picture lives in a resource file of the static core library; make sure it is registered.
static void InitHelpResources()
{
    Q_INIT_RESOURCE(help);
}

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
{
    InitHelpResources();
    setWindowTitle(tr("About"));
    setWindowFlags((windowFlags() | Qt::Dialog) & ~Qt::WindowContextHelpButtonHint);
    setModal(true);

    auto *frame = new QGroupBox(this);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(frame);

    m_pPicture = new QLabel(frame);
    m_pPicture->setFrameShape(QFrame::Box);
    m_pPicture->setPixmap(QPixmap(QStringLiteral(":/help/about.png")));
    m_pPicture->setFixedSize(PictureWidth + 2 * m_pPicture->frameWidth(),
                             PictureHeight + 2 * m_pPicture->frameWidth());
    m_pPicture->setAlignment(Qt::AlignCenter);

    m_pWeb = new QPushButton(QStringLiteral(TALVEX_WEBSITE), frame);
    m_pWeb->setAutoDefault(false);
    m_pWeb->setMinimumWidth(250);
    connect(m_pWeb, &QPushButton::clicked, this, &CAboutDlg::OnWebAddress);

    m_pVersion = new QLabel(VersionLine(QStringLiteral(TALVEX_BUILD_STAMP)), frame);
    m_pVersion->setAlignment(Qt::AlignCenter);

    auto *copyright = new QLabel(QStringLiteral(TALVEX_COPYRIGHT), frame);
    copyright->setAlignment(Qt::AlignCenter);

    m_pOk = new QPushButton(tr("OK"), frame);
    m_pOk->setDefault(true);
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);

    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(14, 14, 14, 12);
    column->addWidget(m_pPicture, 0, Qt::AlignHCenter);
    column->addSpacing(8);
    column->addWidget(m_pWeb, 0, Qt::AlignHCenter);
    column->addSpacing(6);
    column->addWidget(m_pVersion);
    column->addWidget(copyright);
    column->addSpacing(8);
    column->addWidget(m_pOk, 0, Qt::AlignHCenter);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_pOk->setFocus();
}

double CAboutDlg::VersionNumber(const QString &buildStamp)
{
    static const QRegularExpression form(QStringLiteral(R"(^\s*(\d{1,4})-(\d{1,2})-(\d{1,2})\s+(\d{1,2}))"));
    const QRegularExpressionMatch m = form.match(buildStamp);
    if (!m.hasMatch())
        return 0.0;
    const int year = m.captured(1).toInt();
    const int month = m.captured(2).toInt();
    const int day = m.captured(3).toInt();
    const int hour = m.captured(4).toInt();
    // The date as eight digits, the hour as the two decimals; minutes are not part of it.
    return static_cast<double>(year * 10000 + month * 100 + day) + hour / 100.0;
}

QString CAboutDlg::VersionLine(const QString &buildStamp)
{
    return QString::asprintf("Talvex v%.2f", VersionNumber(buildStamp));
}

void CAboutDlg::OnWebAddress()
{
    // Whether a browser started is not reported; the dialog stays open either way.
    QDesktopServices::openUrl(QUrl(QStringLiteral(TALVEX_WEBSITE)));
}
