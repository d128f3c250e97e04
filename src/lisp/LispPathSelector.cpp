// The choice of the Lisp executable: the "Set Lisp Path" dialog and the start-up decision.
#include "lisp/LispPathSelector.h"

#include "lisp/CTalvexPipe.h"
#include "lisp/LispDialect.h"
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
    // Executables have no extension here: list every folder and file, symbolic links included.
    // (A permission flag in the filter would hide every entry without that permission, and
    // Executable alone hides everything readable.) What is chosen is checked afterwards.
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
#endif
    if (!setup.preselected.isEmpty())
        dialog.selectFile(setup.preselected);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

// The keyword set of a program name; -1 for a name Talvex does not know.
int KeywordSetOfName(const QString &name)
{
    const LispDialect *dialect = DialectForProgramName(name.toStdString());
    return dialect ? dialect->keywordSet : -1;
}

// The Lisp a path names: by its own name, else by the name of the file a symbolic link leads to
// (a generic "lisp" link to sbcl, say).
int KeywordSetOfLisp(const QString &path)
{
    const QFileInfo info(path);
    const int set = KeywordSetOfName(info.fileName());
    if (set >= 0)
        return set;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? -1 : KeywordSetOfName(QFileInfo(target).fileName());
}

// What can be started as a Lisp: on Windows what the dialog lets through, elsewhere a file (or a
// link to one) that may be executed.
bool IsRunnable(const QString &path)
{
    const QFileInfo info(path);
#ifdef Q_OS_WIN
    return info.isFile();
#else
    return info.isFile() && info.isExecutable();
#endif
}

} // namespace

const QStringList &KnownLispNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const std::string &name : KnownLispPrograms())
            list.append(QString::fromStdString(name));
        return list;
    }();
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
    if (!IsRunnable(chosen)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Talvex"),
                        QStringLiteral("%1 is not a program that can be run.\n"
                                       "Please select your Lisp console executable.").arg(native),
                        QMessageBox::Ok, owner ? owner->window() : nullptr);
        box.exec();
        return false;
    }

    CSettingsStore &store = CSettingsStore::Instance();
    console.SetCommandLine(native.toLocal8Bit().toStdString());
    store.WriteString(CSettingsStore::kSettings, QStringLiteral("Lisp"), native);
    // Without a stored keyword set, a known Lisp brings its dialect's set; a stored one stays.
    const QString keywordSet = QStringLiteral("KeywordSet");
    const int set = KeywordSetOfLisp(chosen);
    if (set >= 0 && !store.ValueNames(CSettingsStore::kSettings).contains(keywordSet, Qt::CaseInsensitive))
        store.WriteInt(CSettingsStore::kSettings, keywordSet, set);
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
