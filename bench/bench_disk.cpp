// Benchmark: what following files on disk costs: the digest, the look at open files, a reload.
#include "editor/CDocumentManager.h"
#include "editor/CFileIdentity.h"
#include "editor/CLispTabView.h"
#include "editor/CTalvexView.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kSmallDocuments = 100;

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The median of kRounds runs of step, in milliseconds; prepare runs untimed before each.
double Median(const std::function<void()> &step, const std::function<void()> &prepare = {})
{
    std::vector<double> ms;
    for (int i = 0; i < kRounds; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer t;
        t.start();
        step();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    CSettingsStore::Instance().SetKeyPath(QStringLiteral("Software\\Quenmark\\Talvex"));
    CSettingsStore::Instance().WriteInt(QStringLiteral("Settings"), QStringLiteral("LineEnding"), 2);

    QByteArray text;
    for (int n = 0; text.size() < 20 * 1024 * 1024; ++n)
        text += "(defun f-" + QByteArray::number(n) + " (n &optional (acc 1))\n  (if (<= n 1) acc (f (- n 1) (* acc n))))\n\n";
    const QString big = dir.filePath(QStringLiteral("big.lisp"));
    if (!Write(big, text))
        return 1;

    QWidget frame;
    frame.resize(800, 600);
    auto *tabs = new CLispTabView(&frame); // owned by the frame
    tabs->resize(800, 600);
    CRecentDocList recent(QStringLiteral("Recent Document List"), 57616, 16);
    CDocumentManager docs(&frame, *tabs, recent);
    frame.show();

    const double digest = Median([&] { (void)CFileIdentity::Digest(text); });
    const double open = Median([&] { docs.OpenFile(big); }, [&] { docs.CloseAllPages(); });
    CTalvexView *view = tabs->GetPageData(0);

    // The save-time look: the file as known (one stat), and touched (read and digest).
    const double unchanged = Median([&] { (void)view->Disk().Compare(big, false); });
    const double touched = Median([&] { (void)view->Disk().Compare(big, false); },
                                  [&] { Write(big, text); });

    // Another program changes one line near the end; the unmodified document follows it.
    int round = 0;
    const double reload = Median([&] { docs.CheckDisk(); }, [&] {
        QByteArray changed = text;
        changed.replace(changed.size() - 200, 5, QByteArray::number(10000 + round++));
        Write(big, changed);
    });
    const bool followed = !view->GetModify() && view->GetLength() == text.size();

    // The look at every open file when the window is activated, with many small documents.
    for (int i = 0; i < kSmallDocuments; ++i) {
        const QString path = dir.filePath(QStringLiteral("small-%1.lisp").arg(i));
        Write(path, "(small " + QByteArray::number(i) + ")\n");
        docs.OpenFile(path);
    }
    const double activation = Median([&] { docs.CheckDisk(); });

    std::printf("file: %.1f MB\n", text.size() / 1048576.0);
    std::printf("digest of the file's bytes:                            %8.2f ms\n", digest);
    std::printf("open (OpenFile, digest included):                      %8.2f ms\n", open);
    std::printf("save-time look, file as known:                         %8.3f ms\n", unchanged);
    std::printf("save-time look, file touched (read and digest):        %8.2f ms\n", touched);
    std::printf("reload of one changed line (%s):                   %8.2f ms\n", followed ? "followed" : "MISSED  ", reload);
    std::printf("look at %d open files, none changed:                 %8.3f ms\n", kSmallDocuments + 1, activation);
    return 0;
}
