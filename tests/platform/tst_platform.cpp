#include "platform/hugepages.h"
#include "platform/largeblock.h"
#include "platform/processors.h"

#include <QtTest>
#include <sched.h>

#include <cstdint>
#include <cstring>
#include <new>

using platform::HugePageSize;
using platform::LargeBlockAllocator;

namespace {

// The stripper's allocator, which leaves blocks below four huge pages on the heap.
using StripperAllocator = LargeBlockAllocator<unsigned char, 4 * HugePageSize>;

// Allocates bytes with the allocator, writes every byte and frees the block; the block's address.
template <typename Allocator>
std::uintptr_t fillAndFree(std::size_t bytes)
{
    Allocator allocator;
    unsigned char *block = allocator.allocate(bytes);
    std::memset(block, 0xa5, bytes);
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    allocator.deallocate(block, bytes);
    return address;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void largeBlocks_data();
    void largeBlocks();
    void oversizedCountRefused();
    void processorsFollowTheAffinity();
};

void TestPlatform::largeBlocks_data()
{
    QTest::addColumn<bool>("stripper");
    QTest::addColumn<qulonglong>("bytes");
    QTest::addColumn<bool>("onHugePages");
    QTest::newRow("empty") << false << 0ull << false;
    QTest::newRow("small") << false << 100ull << false;
    QTest::newRow("below a huge page") << false << qulonglong(HugePageSize - 1) << false;
    QTest::newRow("one huge page") << false << qulonglong(HugePageSize) << true;
    QTest::newRow("some huge pages and a bit") << false << qulonglong(3 * HugePageSize + 5) << true;
    QTest::newRow("stripper, three huge pages") << true << qulonglong(3 * HugePageSize) << false;
    QTest::newRow("stripper, below four huge pages") << true << qulonglong(4 * HugePageSize - 1) << false;
    QTest::newRow("stripper, four huge pages") << true << qulonglong(4 * HugePageSize) << true;
}

// Blocks from the heap and blocks on whole huge pages are both usable to their last byte and go
// back the way they came (AddressSanitizer tells a block freed by the wrong call).
void TestPlatform::largeBlocks()
{
    QFETCH(bool, stripper);
    QFETCH(qulonglong, bytes);
    QFETCH(bool, onHugePages);
    const std::uintptr_t address = stripper ? fillAndFree<StripperAllocator>(bytes)
                                            : fillAndFree<LargeBlockAllocator<unsigned char>>(bytes);
    if (onHugePages)
        QCOMPARE(address % HugePageSize, std::uintptr_t(0));
}

// A count whose size in bytes overflows is refused, not served with a block of the wrapped size.
void TestPlatform::oversizedCountRefused()
{
    const std::size_t wraps = std::size_t(-1) / sizeof(std::uint64_t) + 2;
    QVERIFY_EXCEPTION_THROWN(LargeBlockAllocator<std::uint64_t>().allocate(wraps), std::bad_array_new_length);
    QVERIFY_EXCEPTION_THROWN((LargeBlockAllocator<std::uint64_t, 4 * HugePageSize>().allocate(wraps)),
                             std::bad_array_new_length);
}

// A process pinned to fewer processors (taskset) must not start a thread for every one the
// machine has.
void TestPlatform::processorsFollowTheAffinity()
{
    cpu_set_t all;
    QCOMPARE(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2)
        QSKIP("a single processor is usable already");
    int first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    QCOMPARE(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned pinned = platform::usableProcessors();
    sched_setaffinity(0, sizeof all, &all);
    QCOMPARE(pinned, 1u);
    QCOMPARE(platform::usableProcessors(), unsigned(CPU_COUNT(&all)));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
