// Tests of the buffer reserve: blocks made ready off the thread, lent only where asked, their pages already written.
#include "lisp/CBufferReserve.h"

#include <QTest>

#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr std::size_t kMB = std::size_t(1) << 20;

long MinorFaultsOfThisThread()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

// Minor page faults taken while every byte of a block of size bytes from operator new is written;
// -1 when the block does not hold what was written.
long FaultsWritingNewBlock(std::size_t size)
{
    char *block = static_cast<char *>(::operator new(size));
    const long before = MinorFaultsOfThisThread();
    std::memset(block, 0x5a, size);
    const long faults = MinorFaultsOfThisThread() - before;
    const bool kept = block[0] == 0x5a && block[size - 1] == 0x5a;
    ::operator delete(block);
    return kept ? faults : -1;
}

} // namespace

class TstBufferReserve : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lendsOnlyWhereAsked();
    void nestedLendsRestoreTheOuterOne();
    void lentBlocksTakeNoPageFaults();
    void releaseStopsAPreparation();
    void samePrepareKeepsWhatIsReady();
};

void TstBufferReserve::initTestCase()
{
    if (!CBufferReserve::CanLend())
        QSKIP("the allocator of this build belongs to a sanitizer; the reserve stays empty");
}

void TstBufferReserve::lendsOnlyWhereAsked()
{
    const std::size_t size = 8 * kMB;
    CBufferReserve reserve;
    reserve.Prepare(size, 2);
    QCOMPARE(reserve.PreparedSize(), size);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 2, 10000);
    QVERIFY(!reserve.IsPreparing());

    {
        std::vector<char> outside;
        outside.reserve(size);
    }
    QCOMPARE(reserve.ReadyCount(), 2);

    {
        CBufferReserve::Lend lend(reserve);
        {
            std::vector<char> tooSmall;
            tooSmall.reserve(size / 2);
            std::vector<char> tooBig;
            tooBig.reserve(size + 1);
            std::thread([size] {
                std::vector<char> otherThread;
                otherThread.reserve(size);
            }).join();
        }
        QCOMPARE(reserve.ReadyCount(), 2);

        std::vector<char> exact;
        exact.reserve(size);
        QCOMPARE(reserve.ReadyCount(), 1);
        std::vector<char> slightlySmaller;
        slightlySmaller.reserve(size - 4096);
        QCOMPARE(reserve.ReadyCount(), 0);
        QVERIFY(!reserve.IsPreparing());
        // With nothing left the allocation is an ordinary one.
        std::vector<char> more;
        more.reserve(size);
        exact.assign(size, 'e');
        slightlySmaller.assign(size - 4096, 's');
        more.assign(size, 'm');
        QCOMPARE(exact.back(), 'e');
        QCOMPARE(slightlySmaller.front(), 's');
    }
    // Lent blocks are freed by their owners with the ordinary delete: nothing left to release.
    reserve.Prepare(size, 1);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 1, 10000);
    {
        std::vector<char> afterLend;
        afterLend.reserve(size);
    }
    QCOMPARE(reserve.ReadyCount(), 1);
}

void TstBufferReserve::nestedLendsRestoreTheOuterOne()
{
    const std::size_t size = 4 * kMB;
    CBufferReserve outer;
    CBufferReserve inner;
    outer.Prepare(size, 2);
    inner.Prepare(size, 1);
    QTRY_VERIFY_WITH_TIMEOUT(outer.ReadyCount() == 2 && inner.ReadyCount() == 1, 10000);

    CBufferReserve::Lend lendOuter(outer);
    {
        CBufferReserve::Lend lendInner(inner);
        std::vector<char> v;
        v.reserve(size);
        QCOMPARE(inner.ReadyCount(), 0);
        QCOMPARE(outer.ReadyCount(), 2);
    }
    std::vector<char> w;
    w.reserve(size);
    QCOMPARE(outer.ReadyCount(), 1);
}

void TstBufferReserve::lentBlocksTakeNoPageFaults()
{
    const std::size_t size = 32 * kMB;
    CBufferReserve reserve;
    reserve.Prepare(size, 1);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 1, 10000);

    const long fresh = FaultsWritingNewBlock(size);
    long lent = 0;
    {
        CBufferReserve::Lend lend(reserve);
        lent = FaultsWritingNewBlock(size);
    }
    QCOMPARE(reserve.ReadyCount(), 0);
    qInfo("page faults writing %zu MB: fresh block %ld, lent block %ld", size / kMB, fresh, lent);
    // Small pages would be 8192 faults, large ones 16.
    QVERIFY(fresh >= 0);
    QVERIFY(lent >= 0);
    QVERIFY2(lent < 8, qPrintable(QString::number(lent)));
}

void TstBufferReserve::releaseStopsAPreparation()
{
    CBufferReserve reserve;
    // Far more than can be written before Release asks the worker to stop.
    reserve.Prepare(1024 * kMB, 2);
    QVERIFY(reserve.IsPreparing());
    reserve.Release();
    QVERIFY(!reserve.IsPreparing());
    QCOMPARE(reserve.ReadyCount(), 0);
    QCOMPARE(reserve.PreparedSize(), std::size_t(0));

    // Small sizes are not worth a reserve.
    reserve.Prepare(kMB / 2, 1);
    QCOMPARE(reserve.PreparedSize(), std::size_t(0));
    QVERIFY(!reserve.IsPreparing());

    // A new size replaces the old one.
    reserve.Prepare(4 * kMB, 1);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 1, 10000);
    reserve.Prepare(6 * kMB, 1);
    QCOMPARE(reserve.PreparedSize(), 6 * kMB);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 1, 10000);
    {
        CBufferReserve::Lend lend(reserve);
        std::vector<char> v;
        v.reserve(4 * kMB); // a block of the old size would fit, but that one is gone
        QCOMPARE(reserve.ReadyCount(), 1);
    }
}

void TstBufferReserve::samePrepareKeepsWhatIsReady()
{
    const std::size_t size = 64 * kMB;
    CBufferReserve reserve;
    reserve.Prepare(size, 1);
    QTRY_COMPARE_WITH_TIMEOUT(reserve.ReadyCount(), 1, 20000);
    // Asked again (the console asks on every append near the end of its room): no new work.
    reserve.Prepare(size, 1);
    QCOMPARE(reserve.ReadyCount(), 1);
    QVERIFY(!reserve.IsPreparing());
}

QTEST_MAIN(TstBufferReserve)
#include "tst_bufferreserve.moc"
