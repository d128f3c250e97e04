// Tests of the recent-file and open-document lists: order, limits, stored values, the popup.
#include "app/CRecentFilesMenu.h"
#include "settings/CRecentDocList.h"
#include "settings/CSettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kKeyPath = u"Software\\Quenmark\\Talvex"_s;
const QString kRecent = u"Recent Document List"_s;
const QString kOpen = u"Open Document List"_s;
constexpr int kFirstRecentId = 57616;

QString File(int i)
{
    return u"/home/ann/src/file%1.lisp"_s.arg(i);
}

struct Item {
    QString text;
    int id;
    bool enabled;
};

QList<Item> Items(const QMenu &menu)
{
    QList<Item> items;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator())
            items.append({u"---"_s, -1, false});
        else
            items.append({action->text(), action->data().isValid() ? action->data().toInt() : -1, action->isEnabled()});
    }
    return items;
}

// The Recent Files popup as the frame builds it: the resource's placeholder only.
void FillRecentPopup(QMenu &menu)
{
    QAction *none = menu.addAction(u"<none>"_s);
    none->setData(kFirstRecentId);
}

QMap<QString, QVariant> Stored(const QString &section)
{
    return CSettingsStore::Instance().ReadSection(kKeyPath, section);
}

} // namespace

class TestRecentDocList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void seventeenFilesKeepSixteen();
    void readdedNameMovesToTop_data();
    void readdedNameMovesToTop();
    void thirdEntryById();
    void sameFileByAnotherName();
    void shrinkingLeavesNoStaleValue();
    void openDocumentListKeepsLast32();
    void placeholderWhenEmpty();
    void placeholderWithoutResourceItem();
    void idsWithoutEntry();
    void maximumIsClamped_data();
    void maximumIsClamped();
    void readingStoredValues_data();
    void readingStoredValues();
    void namesShownWhole();

private:
    QTemporaryDir m_configDir;
};

void TestRecentDocList::initTestCase()
{
    QVERIFY(m_configDir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configDir.path()));
    CSettingsStore::Instance().SetKeyPath(kKeyPath);
}

void TestRecentDocList::init()
{
    QDir(m_configDir.path() + u"/Quenmark"_s).removeRecursively();
}

void TestRecentDocList::seventeenFilesKeepSixteen()
{
    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    for (int i = 1; i <= 17; ++i)
        QVERIFY(list.AddToList(File(i)));

    QCOMPARE(list.GetCount(), 16);
    const QList<Item> items = Items(popup);
    QCOMPARE(items.size(), 16);
    for (int k = 0; k < 16; ++k) {
        QCOMPARE(items[k].text, u"&%1 %2"_s.arg(k + 1).arg(QDir::toNativeSeparators(File(17 - k))));
        QCOMPARE(items[k].id, kFirstRecentId + k);
        QVERIFY(items[k].enabled);
    }

    QVERIFY(list.WriteToRegistry(kKeyPath));
    const QMap<QString, QVariant> stored = Stored(kRecent);
    QCOMPARE(stored.value(u"DocumentCount"_s), QVariant(16));
    QCOMPARE(stored.value(u"Document1"_s), QVariant(File(17)));
    QCOMPARE(stored.value(u"Document16"_s), QVariant(File(2)));
    QCOMPARE(stored.size(), 17);

    // Read back by a list of a later run, in the same order.
    QMenu later;
    FillRecentPopup(later);
    CRecentDocList again(kRecent, kFirstRecentId, 16);
    CRecentFilesMenu shownAgain(again);
    shownAgain.SetMenuHandle(&later);
    QVERIFY(again.ReadFromRegistry(kKeyPath));
    QCOMPARE(again.GetMaxEntries(), 16);
    QCOMPARE(again.GetCount(), 16);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(again.GetEntry(i), File(i + 2));
    QCOMPARE(Items(later).first().text, u"&1 "_s + QDir::toNativeSeparators(File(17)));
}

void TestRecentDocList::readdedNameMovesToTop_data()
{
    QTest::addColumn<QString>("readded");
    QTest::addColumn<QStringList>("expected");   // oldest first

    const QString a = u"/src/a.lisp"_s, b = u"/src/b.lisp"_s, c = u"/src/c.lisp"_s;
    QTest::newRow("oldest") << a << QStringList({b, c, a});
    QTest::newRow("middle") << b << QStringList({a, c, b});
    QTest::newRow("newest") << c << QStringList({a, b, c});
    QTest::newRow("new name") << u"/src/d.lisp"_s << QStringList({a, b, c, u"/src/d.lisp"_s});
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    // Same document; the entry takes the newer spelling.
    QTest::newRow("other letter case") << u"/SRC/A.lisp"_s << QStringList({b, c, u"/SRC/A.lisp"_s});
#else
    // Two documents on a file system that tells the names apart.
    QTest::newRow("other letter case") << u"/SRC/A.lisp"_s << QStringList({a, b, c, u"/SRC/A.lisp"_s});
#endif
}

void TestRecentDocList::readdedNameMovesToTop()
{
    QFETCH(QString, readded);
    QFETCH(QStringList, expected);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    for (const char *name : {"/src/a.lisp", "/src/b.lisp", "/src/c.lisp"})
        list.AddToList(QString::fromLatin1(name));
    list.AddToList(readded);
    QStringList entries;
    for (int i = 0; i < list.GetCount(); ++i)
        entries.append(list.GetEntry(i));
    QCOMPARE(entries, expected);
}

void TestRecentDocList::thirdEntryById()
{
    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    for (int i = 1; i <= 5; ++i)
        list.AddToList(File(i));

    QString path;
    QVERIFY(list.GetFromList(kFirstRecentId + 2, path));
    QCOMPARE(path, File(3));
    QVERIFY(list.MoveToTop(kFirstRecentId + 2));
    QVERIFY(list.WriteToRegistry(kKeyPath));

    const QStringList newestFirst = {File(3), File(5), File(4), File(2), File(1)};
    const QList<Item> items = Items(popup);
    const QMap<QString, QVariant> stored = Stored(kRecent);
    QCOMPARE(items.size(), 5);
    for (int k = 0; k < 5; ++k) {
        QCOMPARE(items[k].text, u"&%1 "_s.arg(k + 1) + QDir::toNativeSeparators(newestFirst[k]));
        QCOMPARE(stored.value(u"Document%1"_s.arg(k + 1)), QVariant(newestFirst[k]));
        QVERIFY(list.GetFromList(kFirstRecentId + k, path));
        QCOMPARE(path, newestFirst[k]);
    }
}

void TestRecentDocList::sameFileByAnotherName()
{
    QTemporaryDir dir;
    const QString real = dir.filePath(u"real.lisp"_s);
    const QString link = dir.filePath(u"link.lisp"_s);
    QFile file(real);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QFile::link(real, link));
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    list.AddToList(real);
    list.AddToList(File(1));
    // One file, one entry: the newer name takes the old one's place at the top.
    list.AddToList(link);
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.GetEntry(1), link);
    list.AddToList(dir.path() + u"/./real.lisp"_s);
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.GetEntry(0), File(1));
}

void TestRecentDocList::shrinkingLeavesNoStaleValue()
{
    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    for (int i = 1; i <= 16; ++i)
        list.AddToList(File(i));
    QVERIFY(list.WriteToRegistry(kKeyPath));
    QVERIFY(CSettingsStore::Instance().ValueNames(kRecent).contains(u"Document16"_s));

    QVERIFY(list.RemoveFromList(kFirstRecentId + 4));   // File(12), the fifth newest
    QCOMPARE(list.GetCount(), 15);
    QCOMPARE(Items(popup).size(), 15);
    QVERIFY(list.WriteToRegistry(kKeyPath));
    const QStringList names = CSettingsStore::Instance().ValueNames(kRecent);
    QVERIFY(!names.contains(u"Document16"_s));
    QCOMPARE(names.size(), 16);   // DocumentCount and Document1..15
    QCOMPARE(Stored(kRecent).value(u"Document5"_s), QVariant(File(11)));
    QCOMPARE(Stored(kRecent).value(u"DocumentCount"_s), QVariant(16));
}

void TestRecentDocList::openDocumentListKeepsLast32()
{
    CRecentDocList list(kOpen, 1, 32);
    list.SetMaxEntries(32);
    for (int i = 1; i <= 40; ++i)
        QVERIFY(!list.AddToList(File(i)));   // no menu: UpdateMenu's false
    QCOMPARE(list.GetCount(), 32);
    QCOMPARE(list.GetEntry(0), File(9));
    QCOMPARE(list.GetEntry(31), File(40));
    QVERIFY(list.WriteToRegistry(kKeyPath));

    CRecentDocList again(kOpen, 1, 32);
    QVERIFY(again.ReadFromRegistry(kKeyPath));
    QCOMPARE(again.GetMaxEntries(), 32);
    QCOMPARE(again.GetCount(), 32);
    for (int i = 0; i < 32; ++i)
        QCOMPARE(again.GetEntry(i), File(i + 9));
    again.RemoveAll();
    QCOMPARE(again.GetCount(), 0);
    QCOMPARE(Stored(kOpen).size(), 33);   // removing entries leaves the settings alone
}

void TestRecentDocList::placeholderWhenEmpty()
{
    QMenu popup;
    popup.addAction(u"Before"_s)->setData(100);
    FillRecentPopup(popup);
    popup.addSeparator();
    popup.addAction(u"After"_s)->setData(101);

    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    QVERIFY(!list.ReadFromRegistry(kKeyPath));   // first start: nothing stored
    QCOMPARE(Items(popup).size(), 4);
    QCOMPARE(Items(popup)[1].text, u"<none>"_s);

    QVERIFY(list.AddToList(u"/tmp/one.lisp"_s));
    QList<Item> items = Items(popup);
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0].text, u"Before"_s);
    QCOMPARE(items[1].text, u"&1 "_s + QDir::toNativeSeparators(u"/tmp/one.lisp"_s));
    QVERIFY(items[1].enabled);
    QCOMPARE(items[2].text, u"---"_s);
    QCOMPARE(items[3].text, u"After"_s);

    QVERIFY(list.RemoveFromList(kFirstRecentId));
    items = Items(popup);
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[1].text, u"<none>"_s);
    QCOMPARE(items[1].id, kFirstRecentId);
    QVERIFY(!items[1].enabled);
    QString path;
    QVERIFY(!list.GetFromList(kFirstRecentId, path));   // the placeholder has no entry
}

void TestRecentDocList::placeholderWithoutResourceItem()
{
    QMenu popup;
    popup.addAction(u"Other"_s)->setData(5);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    QVERIFY(list.UpdateMenu());
    QList<Item> items = Items(popup);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[1].text, u"(empty)"_s);
    QVERIFY(!items[1].enabled);
    list.AddToList(u"/x.lisp"_s);
    list.AddToList(u"/y.lisp"_s);
    items = Items(popup);
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0].text, u"Other"_s);
    QCOMPARE(items[1].id, kFirstRecentId);
    QCOMPARE(items[2].id, kFirstRecentId + 1);
    CRecentDocList noMenu(kRecent, kFirstRecentId, 16);
    QVERIFY(!noMenu.UpdateMenu());
}

void TestRecentDocList::idsWithoutEntry()
{
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    list.SetMaxEntries(16);
    list.AddToList(File(1));
    list.AddToList(File(2));
    QString path = u"unchanged"_s;
    QVERIFY(!list.GetFromList(kFirstRecentId - 1, path));
    QVERIFY(!list.GetFromList(kFirstRecentId + 2, path));
    QCOMPARE(path, u"unchanged"_s);
    QVERIFY(!list.RemoveFromList(kFirstRecentId + 2));
    QVERIFY(!list.MoveToTop(kFirstRecentId + 15));
    QCOMPARE(list.GetCount(), 2);
    QVERIFY(list.GetFromList(kFirstRecentId + 1, path));
    QCOMPARE(path, File(1));
}

void TestRecentDocList::maximumIsClamped_data()
{
    QTest::addColumn<int>("upperBound");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");
    QTest::newRow("negative") << 16 << -3 << 2;
    QTest::newRow("one") << 16 << 1 << 2;
    QTest::newRow("in range") << 16 << 9 << 9;
    QTest::newRow("recent bound") << 16 << 17 << 16;
    QTest::newRow("open bound") << 32 << 33 << 32;
    QTest::newRow("open in range") << 32 << 20 << 20;
}

void TestRecentDocList::maximumIsClamped()
{
    QFETCH(int, upperBound);
    QFETCH(int, requested);
    QFETCH(int, expected);
    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, upperBound);
    QCOMPARE(list.GetMaxEntries(), 4);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    list.SetMaxEntries(upperBound);
    for (int i = 1; i <= upperBound; ++i)
        list.AddToList(File(i));
    list.SetMaxEntries(requested);
    QCOMPARE(list.GetMaxEntries(), expected);
    // A lower maximum drops the oldest entries, in the popup too.
    QCOMPARE(list.GetCount(), expected);
    QCOMPARE(list.GetEntry(expected - 1), File(upperBound));
    QCOMPARE(Items(popup).size(), expected);
}

void TestRecentDocList::readingStoredValues_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("entries");   // oldest first

    QTest::newRow("in order") << QByteArray("\"DocumentCount\"=dword:00000004\n\"Document1\"=\"/n.lisp\"\n"
                                            "\"Document2\"=\"/o.lisp\"\n")
                              << true << QStringList({u"/o.lisp"_s, u"/n.lisp"_s});
    QTest::newRow("gap and wrong type")
        << QByteArray("\"DocumentCount\"=dword:00000004\n\"Document1\"=\"/n.lisp\"\n\"Document2\"=dword:00000001\n"
                      "\"Document4\"=\"/old.lisp\"\n")
        << true << QStringList({u"/old.lisp"_s, u"/n.lisp"_s});
    QTest::newRow("beyond the count")
        << QByteArray("\"DocumentCount\"=dword:00000002\n\"Document1\"=\"/a\"\n\"Document2\"=\"/b\"\n\"Document3\"=\"/c\"\n")
        << true << QStringList({u"/b"_s, u"/a"_s});
    QTest::newRow("count clamped") << QByteArray("\"DocumentCount\"=dword:00000028\n\"Document16\"=\"/p\"\n")
                                   << true << QStringList({u"/p"_s});
    QTest::newRow("count as string") << QByteArray("\"DocumentCount\"=\"4\"\n\"Document1\"=\"/n.lisp\"\n")
                                     << false << QStringList({u"/kept.lisp"_s});
    QTest::newRow("no count") << QByteArray("\"Document1\"=\"/n.lisp\"\n") << false << QStringList({u"/kept.lisp"_s});
    QTest::newRow("expandable string") << QByteArray("\"DocumentCount\"=dword:00000002\n"
                                                     "\"Document1\"=hex(2):25,48,4f,4d,45,25,00\n")
                                       << true << QStringList({u"%HOME%"_s});
}

void TestRecentDocList::readingStoredValues()
{
    QFETCH(QByteArray, values);
    QFETCH(bool, read);
    QFETCH(QStringList, entries);
    const QString path = CSettingsStore::FilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Recent Document List]\n" + values);
    QVERIFY(file.flush());
    // Rows follow each other within one tick of the file clock; a time of its own for each keeps
    // QSettings from taking a row's file for the previous one of equal size.
    static int row = 0;
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60 + ++row), QFileDevice::FileModificationTime));
    file.close();

    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    list.AddToList(u"/kept.lisp"_s);
    QCOMPARE(list.ReadFromRegistry(kKeyPath), read);
    QStringList got;
    for (int i = 0; i < list.GetCount(); ++i)
        got.append(list.GetEntry(i));
    QCOMPARE(got, entries);
    QCOMPARE(Items(popup).size(), entries.size());
}

void TestRecentDocList::namesShownWhole()
{
    QMenu popup;
    FillRecentPopup(popup);
    CRecentDocList list(kRecent, kFirstRecentId, 16);
    CRecentFilesMenu shown(list);
    shown.SetMenuHandle(&popup);
    const QString longName = u"/home/ann/"_s + QString(400, u'x') + u".lisp"_s;
    const QString ampersand = u"/home/ann/R&D/a&b.lisp"_s;
    list.AddToList(longName);
    list.AddToList(ampersand);
#ifdef Q_OS_WIN
    QCOMPARE(list.GetEntry(0).size(), 259);
#else
    QCOMPARE(list.GetEntry(0), longName);
    QVERIFY(list.WriteToRegistry(kKeyPath));
    QCOMPARE(Stored(kRecent).value(u"Document2"_s), QVariant(longName));
#endif
    // A '&' of the path is shown, not taken as a mnemonic.
    QCOMPARE(Items(popup)[0].text, u"&1 "_s + QDir::toNativeSeparators(u"/home/ann/R&&D/a&&b.lisp"_s));
    QString path;
    QVERIFY(list.GetFromList(kFirstRecentId, path));
    QCOMPARE(path, ampersand);
}

QTEST_MAIN(TestRecentDocList)
#include "tst_recentdocs.moc"
