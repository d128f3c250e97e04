// Help > About Talvex: picture, version line from the build date and hour, web address, copyright.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Modal; run with exec(). OK and Escape close it; the web-address button opens the browser and
// leaves the dialog open.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int PictureWidth = 390;
    static constexpr int PictureHeight = 233;

    explicit CAboutDlg(QWidget *parent);

    // buildStamp "YYYY-MM-DD HH" (the build's date and hour) gives "Talvex vYYYYMMDD.HH".
    static double VersionNumber(const QString &buildStamp);
    static QString VersionLine(const QString &buildStamp);

    QLabel *VersionLabel() const { return m_pVersion; }
    QLabel *PictureLabel() const { return m_pPicture; }
    QPushButton *WebButton() const { return m_pWeb; }
    QPushButton *OkButton() const { return m_pOk; }

private:
    void OnWebAddress();

    QLabel *m_pPicture = nullptr;
    QLabel *m_pVersion = nullptr;
    QPushButton *m_pWeb = nullptr;
    QPushButton *m_pOk = nullptr;
};
