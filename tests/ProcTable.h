// The process table as /proc shows it, for tests that check which processes a run left behind.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

struct ProcEntry
{
    qint64 pid = 0;
    qint64 ppid = 0;
    QByteArray comm; // the command name, without its brackets
    char state = '?';
};

// Every process whose /proc/<pid>/stat could be read at the moment of the call.
inline QList<ProcEntry> ReadProcTable()
{
    QList<ProcEntry> table;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces and brackets, so it ends at the
        // last closing bracket.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() < 2)
            continue;
        table.append({pid, rest.at(1).toLongLong(), line.mid(open + 1, close - open - 1),
                      rest.at(0).isEmpty() ? '?' : rest.at(0).at(0)});
    }
    return table;
}
