// Benchmark of the settings store: reads, writes, the recent-file list's write, a 10 MB file.
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"
#include "settings/RegFileFormat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

// Average time of one call in microseconds.
double Measure(int runs, const std::function<void()> &step)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        step();
    return double(timer.nsecsElapsed()) / 1000.0 / runs;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    CSettingsStore &store = CSettingsStore::Instance();
    const QString keyPath = u"Software\\Quenmark\\Talvex"_s;
    store.SetKeyPath(keyPath);

    // A settings file as after some use: all settings and a full recent-file list.
    store.WriteString(u"Settings"_s, u"Lisp"_s, u"/usr/bin/sbcl"_s);
    for (const char *name : {"TabSize", "TabUsesSpaces", "KeywordSet", "LineEnding", "FontSize"})
        store.WriteInt(u"Settings"_s, QString::fromLatin1(name), 4);
    store.WriteString(u"Settings"_s, u"FontName"_s, u"DejaVu Sans Mono"_s);
    CRecentDocList recent(u"Recent Document List"_s, 57616, 16);
    recent.SetMaxEntries(16);
    for (int i = 0; i < 16; ++i)
        recent.AddToList(u"/home/ann/src/project/file%1.lisp"_s.arg(i));
    recent.WriteToRegistry(keyPath);

    int sink = 0;
    const double read = Measure(2000, [&] { sink += store.ReadInt(u"Settings"_s, u"TabSize"_s, 0); });
    const double write = Measure(100, [&] { store.WriteInt(u"Settings"_s, u"TabSize"_s, ++sink & 7); });
    const double listWrite = Measure(50, [&] { recent.WriteToRegistry(keyPath); });
    // What the list's write would cost as one store write per value (1 count, 16 names, 16 deletions).
    const double perValue = Measure(5, [&] {
        store.WriteInt(u"Recent Document List"_s, u"DocumentCount"_s, 16);
        for (int i = 1; i <= 16; ++i)
            store.WriteString(u"Recent Document List"_s, u"Document%1"_s.arg(i), recent.GetEntry(16 - i));
        for (int i = 17; i <= 32; ++i)
            store.DeleteValue(u"Recent Document List"_s, u"Document%1"_s.arg(i));
    });

    QByteArray big = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings]\n";
    while (big.size() < 10 * 1024 * 1024)
        big += "\"Value\"=\"some text with \\\"quotes\\\" and \\\\ backslashes\"\nnot a value line at all\n";
    const double parse = Measure(3, [&] {
        QSettings::SettingsMap map;
        RegFile::Parse(big, map);
        sink += int(map.size());
    });

    // The same read from a 10 MB settings file, as a reader that looks at the file each time.
    {
        QFile file(CSettingsStore::FilePath());
        file.open(QIODevice::Append);
        file.write(big.sliced(big.indexOf('\n') + 1));
    }
    const double firstBigRead = Measure(1, [&] { sink += store.ReadInt(u"Settings"_s, u"TabSize"_s, 0); });
    const double bigRead = Measure(2000, [&] { sink += store.ReadInt(u"Settings"_s, u"TabSize"_s, 0); });

    std::printf("ReadInt (typical file)            %10.1f us\n", read);
    std::printf("ReadInt (10 MB file), first       %10.1f us\n", firstBigRead);
    std::printf("ReadInt (10 MB file), unchanged   %10.1f us\n", bigRead);
    std::printf("WriteInt (lock, rewrite, fsync)   %10.1f us\n", write);
    std::printf("recent list write, one file write %10.1f us\n", listWrite);
    std::printf("  same as 33 single writes        %10.1f us\n", perValue);
    std::printf("parse 10 MB file                  %10.1f us (%.0f MB/s)\n", parse,
                double(big.size()) / parse);
    return sink == 42 ? 1 : 0;
}
