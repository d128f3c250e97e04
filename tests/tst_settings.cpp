// Tests of the settings store and its file: types, defaults, damaged files, kept lines, two writers.
#include "platform/FileLock.h"
#include "settings/CSettingsFile.h"
#include "settings/CSettingsStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kKeyPath = u"Software\\Quenmark\\Talvex"_s;
const QByteArray kSection = "[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings]\n";

// Latest modification time any version of the settings file had in this run.
QDateTime g_lastVersionTime;

void NoteVersionTime()
{
    const QDateTime time = QFileInfo(CSettingsStore::FilePath()).lastModified();
    if (time.isValid() && (!g_lastVersionTime.isValid() || time > g_lastVersionTime))
        g_lastVersionTime = time;
}

// Writes the settings file in place, as another program would. A reader that goes by size and
// time cannot tell two versions of equal size written within one tick of the file system clock;
// an editor never does that, but the rows below do, so each version written here gets a time of
// its own.
void WriteFile(const QByteArray &bytes)
{
    const QString path = CSettingsStore::FilePath();
    NoteVersionTime();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.flush());
    QDateTime time = QDateTime::currentDateTime();
    if (g_lastVersionTime.isValid() && time <= g_lastVersionTime)
        time = g_lastVersionTime.addMSecs(1);
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    g_lastVersionTime = time;
}

QByteArray ReadFile()
{
    QFile file(CSettingsStore::FilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Non-blank lines without their CRs, as the file parser sees them.
QList<QByteArray> Lines(const QByteArray &text)
{
    QList<QByteArray> lines;
    for (QByteArray line : text.split('\n')) {
        while (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty() || line.contains('\0'))
            lines.append(line);
    }
    return lines;
}

// Writer mode of this program: `--writer NAME COUNT` writes NAME = 0 .. COUNT-1, checking after
// each write that its own value reads back. Run as two processes at once by the test below.
int RunWriter(const QString &name, int count)
{
    CSettingsStore &store = CSettingsStore::Instance();
    store.SetKeyPath(kKeyPath);
    for (int i = 0; i < count; ++i) {
        if (!store.WriteInt(u"Settings"_s, name, i))
            return 2;
        if (store.ReadInt(u"Settings"_s, name, -1) != i)
            return 3;
        // A string of constant length too, so that the file keeps its size from write to write.
        if (!store.WriteString(u"Settings"_s, name + u"Text"_s, u"v%1"_s.arg(i % 10)))
            return 4;
    }
    return 0;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void roundTrip_data();
    void roundTrip();
    void typesAreKept();
    void missingFileGivesDefaults();
    void fileValues_data();
    void fileValues();
    void damagedFiles_data();
    void damagedFiles();
    void unparsedLinesSurviveWrite_data();
    void unparsedLinesSurviveWrite();
    void deleteAndNames();
    void refusedWrites();
    void writeLeavesNoTemporaries();
    void everyVersionHasNewerTime();
    void twoProcessesWriting();
    void heldLockBoundsWaits();
    void tooLargeFileIsLeftAlone();

private:
    CSettingsStore &Store() { return CSettingsStore::Instance(); }
    QTemporaryDir m_configDir;
};

void TestSettingsStore::initTestCase()
{
    // Never the user's own settings, also when run outside the test runner.
    QVERIFY(m_configDir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configDir.path()));
    QCOMPARE(CSettingsStore::FilePath(), m_configDir.path() + u"/Quenmark/Talvex.reg"_s);
    Store().SetKeyPath(kKeyPath);
}

void TestSettingsStore::init()
{
    NoteVersionTime();
    QDir(m_configDir.path() + u"/Quenmark"_s).removeRecursively();
}

void TestSettingsStore::roundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("zero") << QVariant(0);
    QTest::newRow("tab size") << QVariant(8);
    QTest::newRow("minus one") << QVariant(-1);
    QTest::newRow("int min") << QVariant(INT_MIN);
    QTest::newRow("int max") << QVariant(INT_MAX);
    QTest::newRow("empty string") << QVariant(u""_s);
    QTest::newRow("path") << QVariant(u"/usr/bin/sbcl --noinform"_s);
    QTest::newRow("quotes") << QVariant(u"say \"hi\" \"\""_s);
    QTest::newRow("backslashes") << QVariant(u"C:\\Program Files\\Lisp\\"_s);
    QTest::newRow("backslash quote") << QVariant(u"\\\"\\\\\""_s);
    QTest::newRow("utf-8") << QVariant(u"Gr\u00fc\u00dfe \u20ac \U0001D11E \u65e5\u672c"_s);
    QTest::newRow("line feed") << QVariant(u"first\nsecond\n"_s);
    QTest::newRow("carriage return") << QVariant(u"a\rb\r"_s);
    QTest::newRow("spaces and tab") << QVariant(u"  lead\tand trail  "_s);
    QTest::newRow("looks like dword") << QVariant(u"dword:00000004"_s);
    QTest::newRow("looks like header") << QVariant(u"]\n[HKEY_CURRENT_USER\\x]\n\"a\"=\"b"_s);
}

void TestSettingsStore::roundTrip()
{
    QFETCH(QVariant, value);
    if (value.typeId() == QMetaType::Int) {
        QVERIFY(Store().WriteInt(u"Settings"_s, u"Value"_s, value.toInt()));
        QCOMPARE(Store().ReadInt(u"Settings"_s, u"Value"_s, 12345), value.toInt());
    } else {
        QVERIFY(Store().WriteString(u"Settings"_s, u"Value"_s, value.toString()));
        QCOMPARE(Store().ReadString(u"Settings"_s, u"Value"_s, u"default"_s), value.toString());
    }
    // A neighbour written afterwards leaves the value as it was.
    QVERIFY(Store().WriteInt(u"Settings"_s, u"Other"_s, 1));
    if (value.typeId() == QMetaType::Int)
        QCOMPARE(Store().ReadInt(u"Settings"_s, u"Value"_s, 12345), value.toInt());
    else
        QCOMPARE(Store().ReadString(u"Settings"_s, u"Value"_s, u"default"_s), value.toString());
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"Other"_s, 0), 1);
}

void TestSettingsStore::typesAreKept()
{
    QVERIFY(Store().WriteString(u"Settings"_s, u"TabSize"_s, u"8"_s));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), 0);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"TabSize"_s, u"-"_s), u"8"_s);
    QVERIFY(ReadFile().contains("\"TabSize\"=\"8\"\n"));

    QVERIFY(Store().WriteInt(u"Settings"_s, u"TabSize"_s, 4));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), 4);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"TabSize"_s, u"-"_s), u"-"_s);
    QVERIFY(ReadFile().contains("\"TabSize\"=dword:00000004\n"));

    // Another section or key path is another key.
    QCOMPARE(Store().ReadInt(u"Other"_s, u"TabSize"_s, 7), 7);
    const QMap<QString, QVariant> section = Store().ReadSection(u"Software\\Quenmark"_s, u"Talvex\\Settings"_s);
    QCOMPARE(section.value(u"TabSize"_s), QVariant(4));
}

void TestSettingsStore::missingFileGivesDefaults()
{
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), 0);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"Lisp"_s, u""_s), u""_s);
    QVERIFY(Store().ValueNames(u"Settings"_s).isEmpty());
    QVERIFY(Store().ReadSection(kKeyPath, u"Recent Document List"_s).isEmpty());
    // Reading creates nothing.
    QVERIFY(!QFileInfo::exists(CSettingsStore::FilePath()));
    QVERIFY(!QFileInfo::exists(QFileInfo(CSettingsStore::FilePath()).absolutePath()));
}

void TestSettingsStore::fileValues_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QVariant>("expected");   // int, string, or invalid for absent

    const QByteArray head = "REGEDIT4\n\n" + kSection;
    const QVariant absent;
    QTest::newRow("dword") << head + "\"V\"=dword:00000004\n" << QVariant(4);
    QTest::newRow("dword upper case") << head + "\"V\"=DWORD:0000ABCD\n" << QVariant(0xABCD);
    QTest::newRow("dword signed") << head + "\"V\"=dword:ffffffff\n" << QVariant(-1);
    QTest::newRow("dword int min") << head + "\"V\"=dword:80000000\n" << QVariant(INT_MIN);
    QTest::newRow("dword short") << head + "\"V\"=dword:7\n" << absent;
    QTest::newRow("dword 9 digits") << head + "\"V\"=dword:000000001\n" << absent;
    QTest::newRow("dword not hex") << head + "\"V\"=dword:0000000g\n" << absent;
    QTest::newRow("dword empty") << head + "\"V\"=dword:\n" << absent;
    QTest::newRow("string") << head + "\"V\"=\"DejaVu Sans Mono\"\n" << QVariant(u"DejaVu Sans Mono"_s);
    QTest::newRow("string escapes") << head + "\"V\"=\"a\\\\b\\\"c\"\n" << QVariant(u"a\\b\"c"_s);
    QTest::newRow("string utf-8") << head + "\"V\"=\"/home/\xc3\xa5sa/\xe2\x82\xac.lisp\"\n"
                                  << QVariant(u"/home/\u00e5sa/\u20ac.lisp"_s);
    QTest::newRow("string bad utf-8") << head + "\"V\"=\"/home/\xff\xfe.lisp\"\n" << absent;
    QTest::newRow("string lone backslash") << head + "\"V\"=\"C:\\Lisp\\sbcl.exe\"\n" << absent;
    QTest::newRow("string unterminated") << head + "\"V\"=\"abc\n" << absent;
    QTest::newRow("string trailing junk") << head + "\"V\"=\"abc\" x\n" << absent;
    QTest::newRow("string with NUL") << head + QByteArray("\"V\"=\"ab\0cd\"\n", 12) << QVariant(u"ab"_s);
    QTest::newRow("spaces around =") << head + "\"V\" = \"x\"  \n" << QVariant(u"x"_s);
    QTest::newRow("expand string unexpanded")
        << head + "\"V\"=hex(2):25,48,4f,4d,45,25,2f,61,00\n" << QVariant(u"%HOME%/a"_s);
    QTest::newRow("expand string over lines")
        << head + "\"V\"=hex(2):25,48,4f,4d,\\\n  45,25,00\n" << QVariant(u"%HOME%"_s);
    QTest::newRow("expand string without NUL") << head + "\"V\"=hex(2):41,42\n" << absent;
    QTest::newRow("expand string bad byte") << head + "\"V\"=hex(2):41,4x,00\n" << absent;
    QTest::newRow("string as hex(1)") << head + "\"V\"=hex(1):61,0a,62,00\n" << QVariant(u"a\nb"_s);
    QTest::newRow("multi string") << head + "\"V\"=hex(7):61,00,00\n" << absent;
    QTest::newRow("binary") << head + "\"V\"=hex:01,02\n" << absent;
    QTest::newRow("qword") << head + "\"V\"=hex(b):01,00,00,00,00,00,00,00\n" << absent;
    QTest::newRow("delete mark") << head + "\"V\"=-\n" << absent;
    QTest::newRow("unknown type") << head + "\"V\"=sz:abc\n" << absent;
    QTest::newRow("later line wins") << head + "\"V\"=dword:00000001\n\"V\"=dword:00000002\n" << QVariant(2);
    QTest::newRow("crlf") << "REGEDIT4\r\n\r\n" + kSection.chopped(1) + "\r\n\"V\"=\"x\"\r\n" << QVariant(u"x"_s);
    QTest::newRow("no header line") << kSection + "\"V\"=dword:00000003\n" << QVariant(3);
    QTest::newRow("version 5 header")
        << "Windows Registry Editor Version 5.00\n\n" + kSection + "\"V\"=dword:00000005\n" << QVariant(5);
    QTest::newRow("utf-8 bom") << "\xEF\xBB\xBFREGEDIT4\n" + kSection + "\"V\"=dword:00000006\n" << QVariant(6);
    QByteArray utf16("\xFF\xFE", 2);
    for (char c : "REGEDIT4\r\n" + kSection + "\"V\"=\"w\"\r\n") {
        utf16.append(c);
        utf16.append('\0');
    }
    QTest::newRow("utf-16 file") << utf16 << QVariant(u"w"_s);
    QTest::newRow("other section") << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Other]\n\"V\"=dword:00000001\n") << absent;
    QTest::newRow("outside any section") << QByteArray("REGEDIT4\n\"V\"=dword:00000001\n") << absent;
    QTest::newRow("under a broken header")
        << head + "\"V\"=dword:00000001\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings\n\"V\"=dword:00000002\n"
        << QVariant(1);
    QTest::newRow("header with empty key") << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\\\Settings]\n\"V\"=dword:00000001\n") << absent;
    QTest::newRow("value name with slash") << head + "\"a/V\"=dword:00000001\n" << absent;
    QTest::newRow("leading space") << head + "  \"V\"=dword:00000001\n" << absent;
}

void TestSettingsStore::fileValues()
{
    QFETCH(QByteArray, file);
    QFETCH(QVariant, expected);
    WriteFile(file);
    const int intResult = Store().ReadInt(u"Settings"_s, u"V"_s, -77);
    const QString stringResult = Store().ReadString(u"Settings"_s, u"V"_s, u"<default>"_s);
    if (expected.typeId() == QMetaType::Int) {
        QCOMPARE(intResult, expected.toInt());
        QCOMPARE(stringResult, u"<default>"_s);
    } else if (expected.typeId() == QMetaType::QString) {
        QCOMPARE(stringResult, expected.toString());
        QCOMPARE(intResult, -77);
    } else {
        QCOMPARE(intResult, -77);
        QCOMPARE(stringResult, u"<default>"_s);
    }
}

void TestSettingsStore::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("tabSize");   // what "TabSize" reads as; 0 = the default

    const QByteArray good = "REGEDIT4\n\n" + kSection + "\"Lisp\"=\"/usr/bin/sbcl\"\n\"TabSize\"=dword:00000008\n";
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("header only") << QByteArray("REGEDIT4\n") << 0;
    QTest::newRow("truncated in the value") << good.left(good.size() - 5) << 0;
    QTest::newRow("truncated in the header") << good.left(20) << 0;
    QTest::newRow("intact") << good << 8;
    QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << 0;

    QRandomGenerator random(20261208);
    QByteArray noise(256 * 1024, Qt::Uninitialized);
    for (char &c : noise)
        c = char(random.bounded(256));
    QTest::newRow("random bytes") << noise << 0;
    QTest::newRow("random bytes around a good file") << noise.left(1000) + '\n' + good + noise.mid(1000, 1000) << 8;

    // Ten megabytes: lines that almost parse, then one line without an end.
    QByteArray big = good;
    const QByteArray almost = "\"Tab\"=dword:0000000z\n\"x\"=\"unterminated \\\" \n[HKEY_CURRENT_USER\\\n";
    while (big.size() < 5 * 1024 * 1024)
        big += almost;
    big += '"' + QByteArray(5 * 1024 * 1024, 'a');
    QTest::newRow("10 MB") << big << 8;
}

void TestSettingsStore::damagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(int, tabSize);
    WriteFile(file);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), tabSize);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"Missing"_s, u"d"_s), u"d"_s);
    QVERIFY2(timer.elapsed() < 20000, "reading a damaged file took too long");

    // A write still works and keeps every line it could not read.
    QVERIFY(Store().WriteInt(u"Settings"_s, u"KeywordSet"_s, 3));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"KeywordSet"_s, 0), 3);
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), tabSize);
    const QList<QByteArray> after = Lines(ReadFile());
    QMultiHash<QByteArray, int> present;
    for (const QByteArray &line : after)
        present.insert(line, 0);
    const QList<QByteArray> before = Lines(file);
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QByteArray &line = before.at(i);
        if (i == 0 && line.trimmed() == "REGEDIT4")
            continue;
        QVERIFY2(present.contains(line), ("line lost: " + line.left(60).toHex()).constData());
    }
}

void TestSettingsStore::unparsedLinesSurviveWrite_data()
{
    QTest::addColumn<QByteArray>("kept");       // lines that must stay, in this order
    QTest::addColumn<bool>("inSection");       // placed inside the Settings section

    QTest::newRow("comment") << QByteArray("; written by hand") << true;
    QTest::newRow("garbage") << QByteArray("this is not a value") << true;
    QTest::newRow("at the top") << QByteArray("stray line before any key") << false;
    QTest::newRow("value outside key") << QByteArray("\"Lonely\"=dword:00000001") << false;
    QTest::newRow("key deletion") << QByteArray("[-HKEY_CURRENT_USER\\Software\\Old]") << false;
    QTest::newRow("broken key with values")
        << QByteArray("[HKEY_CURRENT_USER\\Software\\Broken\n\"TabSize\"=dword:00000002") << false;
    QTest::newRow("default value") << QByteArray("@=\"default\"") << true;
    QTest::newRow("unknown type") << QByteArray("\"Mystery\"=hex(7):61,00,62,00,00") << true;
    QTest::newRow("wrapped hex") << QByteArray("\"Blob\"=hex:01,02,03,\\\n  04,05,\\\n  06") << true;
    QTest::newRow("wrapped hex ending badly") << QByteArray("\"Blob\"=hex:01,\\") << true;
    QTest::newRow("slash in name") << QByteArray("\"dir/name\"=\"x\"") << true;
    QTest::newRow("bad escape") << QByteArray("\"LispOld\"=\"C:\\sbcl\\sbcl.exe\"") << true;
    QTest::newRow("invalid utf-8") << QByteArray("\"Font\"=\"\xc3\x28\"") << true;
    QTest::newRow("indented") << QByteArray("    indented garbage \\") << true;
}

void TestSettingsStore::unparsedLinesSurviveWrite()
{
    QFETCH(QByteArray, kept);
    QFETCH(bool, inSection);
    const QByteArray values = "\"FontName\"=\"Mono\"\n\"TabSize\"=dword:00000008\n";
    WriteFile(inSection ? "REGEDIT4\n\n" + kSection + values + kept + '\n'
                        : "REGEDIT4\n\n" + kept + "\n\n" + kSection + values);

    QVERIFY(Store().WriteInt(u"Settings"_s, u"TabSize"_s, 4));
    QVERIFY(Store().WriteString(u"Settings"_s, u"Lisp"_s, u"/usr/bin/ecl"_s));
    const QByteArray after = ReadFile();
    QVERIFY2(after.contains('\n' + kept + '\n'), after.constData());
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, 0), 4);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"FontName"_s, u""_s), u"Mono"_s);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"Lisp"_s, u""_s), u"/usr/bin/ecl"_s);
    // Still unreadable after the rewrite: nothing was turned into a value.
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"Lonely"_s, -1), -1);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"Mystery"_s, u"-"_s), u"-"_s);
    // A second rewrite changes nothing but the value written.
    QVERIFY(Store().WriteInt(u"Settings"_s, u"TabSize"_s, 8));
    QByteArray again = ReadFile();
    again.replace("dword:00000008", "dword:00000004");
    QCOMPARE(again, after);
}

void TestSettingsStore::deleteAndNames()
{
    WriteFile("REGEDIT4\n\n" + kSection + "\"Mystery\"=hex(7):00\nnoise\n");
    QVERIFY(Store().WriteInt(u"Settings"_s, u"TabSize"_s, 4));
    QVERIFY(Store().WriteString(u"Settings"_s, u"Lisp"_s, u"sbcl"_s));
    QStringList names = Store().ValueNames(u"Settings"_s);
    names.sort();
    QCOMPARE(names, QStringList({u"Lisp"_s, u"Mystery"_s, u"TabSize"_s}));

    QVERIFY(Store().DeleteValue(u"Settings"_s, u"TabSize"_s));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"TabSize"_s, -1), -1);
    QVERIFY(Store().DeleteValue(u"Settings"_s, u"Mystery"_s));
    QVERIFY(Store().DeleteValue(u"Settings"_s, u"NeverThere"_s));
    QCOMPARE(Store().ValueNames(u"Settings"_s), QStringList({u"Lisp"_s}));
    QVERIFY(Lines(ReadFile()).contains("noise"));

    // Several changes in one write.
    QVERIFY(Store().WriteSection(kKeyPath, u"Recent Document List"_s,
                                 {{u"DocumentCount"_s, 16}, {u"Document1"_s, u"/a.lisp"_s}}, {u"Lisp"_s}));
    const QMap<QString, QVariant> list = Store().ReadSection(kKeyPath, u"Recent Document List"_s);
    QCOMPARE(list.value(u"DocumentCount"_s), QVariant(16));
    QCOMPARE(list.value(u"Document1"_s), QVariant(u"/a.lisp"_s));
    QCOMPARE(Store().ValueNames(u"Settings"_s), QStringList({u"Lisp"_s}));   // other section untouched
}

void TestSettingsStore::refusedWrites()
{
    QVERIFY(!Store().WriteInt(u"Settings"_s, u"a/b"_s, 1));
    QVERIFY(!Store().WriteInt(u"Settings"_s, u""_s, 1));
    QVERIFY(!Store().WriteInt(u"Bad\\\\Section"_s, u"V"_s, 1));
    QVERIFY(!QFileInfo::exists(CSettingsStore::FilePath()));
    QVERIFY(Store().WriteString(u"Settings"_s, u"V"_s, u"old"_s));
    // A null string clears the value to an empty one rather than leaving the old text in place.
    QVERIFY(Store().WriteString(u"Settings"_s, u"V"_s, QString()));
    QCOMPARE(Store().ReadString(u"Settings"_s, u"V"_s, u"x"_s), u""_s);
    QVERIFY(Store().WriteString(u"Settings"_s, u"V"_s, u""_s));
    QCOMPARE(Store().ReadString(u"Settings"_s, u"V"_s, u"x"_s), u""_s);
}

void TestSettingsStore::writeLeavesNoTemporaries()
{
    for (int i = 0; i < 20; ++i)
        QVERIFY(Store().WriteInt(u"Settings"_s, u"N"_s, i));
    const QStringList files = QDir(QFileInfo(CSettingsStore::FilePath()).absolutePath())
                                  .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(files, QStringList({u"Talvex.reg"_s}));
}

void TestSettingsStore::everyVersionHasNewerTime()
{
    // A reader takes a file of unchanged size and time for the copy it has read. Even when the
    // file system clock has not moved on (here: the file's time lies ahead of it), each write
    // must leave a newer time, or another instance would keep reading its old copy.
    QVERIFY(Store().WriteInt(u"Settings"_s, u"V"_s, 1));
    const QDateTime ahead = QDateTime::currentDateTime().addSecs(3600);
    {
        QFile file(CSettingsStore::FilePath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(ahead, QFileDevice::FileModificationTime));
    }
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 1);
    QVERIFY(Store().WriteInt(u"Settings"_s, u"V"_s, 2));
    QVERIFY(QFileInfo(CSettingsStore::FilePath()).lastModified() > ahead);
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 2);
}

void TestSettingsStore::twoProcessesWriting()
{
    constexpr int kCount = 80;
    QVERIFY(Store().WriteInt(u"Settings"_s, u"Start"_s, 1));
    QProcess first, second;
    const QString self = QCoreApplication::applicationFilePath();
    first.start(self, {u"--writer"_s, u"WriterA"_s, QString::number(kCount)});
    second.start(self, {u"--writer"_s, u"WriterB"_s, QString::number(kCount)});
    QVERIFY(first.waitForStarted());
    QVERIFY(second.waitForStarted());

    // Meanwhile a third reader: what it reads never goes back.
    int lastA = -1, lastB = -1;
    while (first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) {
        const int a = Store().ReadInt(u"Settings"_s, u"WriterA"_s, -1);
        const int b = Store().ReadInt(u"Settings"_s, u"WriterB"_s, -1);
        QVERIFY(a >= lastA);
        QVERIFY(b >= lastB);
        lastA = a;
        lastB = b;
        first.waitForFinished(2);
        second.waitForFinished(2);
    }
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"WriterA"_s, -1), kCount - 1);
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"WriterB"_s, -1), kCount - 1);
    QCOMPARE(Store().ReadString(u"Settings"_s, u"WriterAText"_s, u""_s), u"v%1"_s.arg((kCount - 1) % 10));
    QCOMPARE(Store().ReadString(u"Settings"_s, u"WriterBText"_s, u""_s), u"v%1"_s.arg((kCount - 1) % 10));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"Start"_s, 0), 1);
}

// Another program holds the settings folder's lock and never lets go: the first access waits
// its bounded time, reads go on without the lock, writes fail and leave the file as it was,
// and later accesses no longer wait until the lock is free again.
void TestSettingsStore::heldLockBoundsWaits()
{
    const std::string folder = QFile::encodeName(QFileInfo(CSettingsStore::FilePath()).absolutePath()).toStdString();
    auto hold = [&] {
        auto lock = std::make_unique<platform::CFileLock>();
        return lock->Lock(folder, platform::CFileLock::Mode::Exclusive, 0) ? std::move(lock) : nullptr;
    };
    QVERIFY(Store().WriteInt(u"Settings"_s, u"V"_s, 1));
    WriteFile("REGEDIT4\n\n" + kSection + "\"V\"=dword:00000002\n");
    auto held = hold();
    QVERIFY(held);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 2);
    const qint64 firstRead = timer.elapsed();
    QVERIFY2(firstRead >= CSettingsFile::kReadLockWaitMs - 20 && firstRead < CSettingsFile::kReadLockWaitMs + 150,
             qPrintable(QString::number(firstRead)));

    // Now stuck: a version written meanwhile is read without waiting again, writes fail fast.
    WriteFile("REGEDIT4\n\n" + kSection + "\"V\"=dword:00000003\n");
    const QByteArray before = ReadFile();
    timer.restart();
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 3);
    QVERIFY(!Store().WriteInt(u"Settings"_s, u"V"_s, 4));
    QVERIFY(!Store().DeleteValue(u"Settings"_s, u"V"_s));
    QVERIFY2(timer.elapsed() < 3 * CSettingsFile::kStuckLockWaitMs + 150, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(ReadFile(), before);

    held.reset();
    QVERIFY(Store().WriteInt(u"Settings"_s, u"V"_s, 4));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 4);

    // Taken again while the lock was free: a write waits its whole time before it fails.
    held = hold();
    QVERIFY(held);
    timer.restart();
    QVERIFY(!Store().WriteInt(u"Settings"_s, u"V"_s, 5));
    QVERIFY2(timer.elapsed() >= CSettingsFile::kWriteLockWaitMs - 20 && timer.elapsed() < CSettingsFile::kWriteLockWaitMs + 300,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, 0), 4);
}

// A settings file over the size limit is neither parsed nor rewritten: every value reads as its
// default until the file is small again, and then the stored values are back at once.
void TestSettingsStore::tooLargeFileIsLeftAlone()
{
    const QByteArray small = "REGEDIT4\n\n" + kSection + "\"V\"=dword:00000007\n";
    QByteArray big = small;
    const QByteArray filler = "; a comment line that the parser would keep for writing back\n";
    while (big.size() <= CSettingsFile::kMaxParsedSize)
        big += filler;
    WriteFile(big);
    QVERIFY(Store().IsFileTooLarge());
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, -1), -1);
    QVERIFY(Store().ValueNames(u"Settings"_s).isEmpty());
    QVERIFY(!Store().WriteInt(u"Settings"_s, u"V"_s, 8));
    QVERIFY(!Store().WriteString(u"Settings"_s, u"Lisp"_s, u"/bin/cat"_s));
    QCOMPARE(ReadFile(), big);

    WriteFile(small);
    QVERIFY(!Store().IsFileTooLarge());
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, -1), 7);
    QVERIFY(Store().WriteInt(u"Settings"_s, u"V"_s, 8));
    QCOMPARE(Store().ReadInt(u"Settings"_s, u"V"_s, -1), 8);
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--writer") == 0)
        return RunWriter(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    QCoreApplication app(argc, argv);
    TestSettingsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
