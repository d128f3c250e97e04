// The choice of the Lisp executable: the "Set Lisp Path" dialog and the start-up decision.
#include "lisp/LispPathSelector.h"

#include "lisp/CTalvexPipe.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

LispPathChooser &Chooser()
{
    static LispPathChooser chooser;
    return chooser;
}

QString RunFileDialog(QWidget *parent, const LispDialogSetup &setup)
{
    QFileDialog dialog(parent, setup.title, setup.directory);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(setup.filters);
#ifndef Q_OS_WIN
    // Executables have no extension here: list every executable file (and the folders).
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
#endif
    if (!setup.preselected.isEmpty())
        dialog.selectFile(setup.preselected);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

const QStringList &KnownLispNames()
{
    static const QStringList names = {
        QStringLiteral("sbcl"),    QStringLiteral("ccl"),      QStringLiteral("clisp"),
        QStringLiteral("ecl"),     QStringLiteral("guile"),    QStringLiteral("racket"),
        QStringLiteral("newlisp"), QStringLiteral("picolisp"), QStringLiteral("clojure")};
    return names;
}

LispDialogSetup LispDialogSettings()
{
    LispDialogSetup setup;
    setup.title = QStringLiteral("Set Lisp path");
#ifdef Q_OS_WIN
    setup.filters = {QStringLiteral("Lisp startup files (*.exe;*.bat;*.cmd)")};
#else
    // A freshly started desktop program's current folder says nothing about where Lisp is:
    // start where the first Lisp found on PATH lives, with that Lisp selected.
    setup.filters = {QStringLiteral("Lisp startup files (*)")};
    for (const QString &name : KnownLispNames()) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty()) {
            setup.directory = QFileInfo(found).absolutePath();
            setup.preselected = found;
            break;
        }
    }
    if (setup.directory.isEmpty())
        setup.directory = QDir::homePath();
#endif
    return setup;
}

bool IsOwnExecutable(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString own = QCoreApplication::applicationFilePath();
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    if (QDir::cleanPath(QDir::fromNativeSeparators(path))
            .compare(QDir::cleanPath(QDir::fromNativeSeparators(own)), cs) == 0)
        return true;
    const QString canonicalChosen = QFileInfo(path).canonicalFilePath();
    const QString canonicalOwn = QFileInfo(own).canonicalFilePath();
    return !canonicalChosen.isEmpty() && canonicalChosen.compare(canonicalOwn, cs) == 0;
}

void SetLispPathChooser(LispPathChooser chooser)
{
    Chooser() = std::move(chooser);
}

bool SetLispPath(QWidget *parent, CTalvexPipe &console)
{
    QWidget *owner = parent ? parent : QApplication::activeWindow();
    const LispDialogSetup setup = LispDialogSettings();
    const QString chosen = Chooser() ? Chooser()(owner, setup) : RunFileDialog(owner, setup);
    if (chosen.isEmpty())
        return false;

    if (IsOwnExecutable(chosen)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Talvex"),
                        QStringLiteral("Please dont select Talvex itself but your Lisp console executable."),
                        QMessageBox::Ok, owner ? owner->window() : nullptr);
        box.exec();
        return false;
    }

    // Stored as the dialog gave it: a bare path, no quotes even with spaces.
    const QString native = QDir::toNativeSeparators(chosen);
    console.SetCommandLine(native.toLocal8Bit().toStdString());
    CSettingsStore::Instance().WriteString(CSettingsStore::kSettings, QStringLiteral("Lisp"), native);
    return true;
}

bool InitLispCommandLine(QWidget *parent, CTalvexPipe &console)
{
    const QString stored =
        CSettingsStore::Instance().ReadString(CSettingsStore::kSettings, QStringLiteral("Lisp"), QString());
    console.SetCommandLine(stored.toLocal8Bit().toStdString());
    if (!stored.isEmpty())
        return true;
    return SetLispPath(parent, console);
}
