#include "io/blockdeflater.h"
#include "iosupport.h"

#include <QtTest>

#include <zlib.h>

#include <cstring>

using iotest::gzipped;
using iotest::payload;
using iotest::runGzip;

namespace {

// One way of feeding the deflater: pieces of a size, with a flush or a change of level after the
// first piece.
enum class Interrupt
{
    None,
    Flush,
    Level,
};

struct Member
{
    bool ok = false;
    QByteArray bytes;
};

Member deflated(const QByteArray &content, unsigned threads, int piece, Interrupt interrupt = Interrupt::None,
                int level = 6)
{
    Member member;
    BlockDeflater deflater(
        [&member](const char *data, size_t size) {
            member.bytes.append(data, int(size));
            return true;
        },
        level, Z_DEFAULT_STRATEGY, threads);
    bool ok = true;
    for (int at = 0; at < content.size(); at += piece) {
        ok = ok && deflater.write(content.constData() + at, size_t(qMin(piece, content.size() - at)));
        if (at == 0 && interrupt == Interrupt::Flush)
            ok = ok && deflater.flush();
        if (at == 0 && interrupt == Interrupt::Level)
            ok = ok && deflater.setParams(1, Z_FILTERED);
    }
    ok = ok && deflater.consumed() == quint64(content.size());
    member.ok = deflater.finish() && ok;
    return member;
}

// Inflates a gzip member with zlib alone; null on any error, a bad check value included.
QByteArray inflated(const QByteArray &member)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return QByteArray();
    QByteArray out;
    char buffer[65536];
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(member.constData()));
    stream.avail_in = uInt(member.size());
    int result = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, int(sizeof buffer - stream.avail_out));
    } while (result == Z_OK);
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole ? out : QByteArray();
}

// The member written without the deflater: a fresh zlib stream per block of BlockSize bytes (the
// rest, maybe empty, is the last block), with the 32 KiB before the block as its dictionary, ended
// by a sync flush or the final block; zlib's gzip header and the CRC and length of the content.
QByteArray referenceMember(const QByteArray &content, int level)
{
    const char header[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3};
    QByteArray member(header, sizeof header);
    const int blockSize = int(BlockDeflater::BlockSize);
    for (int at = 0;; at += blockSize) {
        const bool last = content.size() - at < blockSize;
        const int length = last ? content.size() - at : blockSize;
        z_stream stream;
        std::memset(&stream, 0, sizeof stream);
        if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return QByteArray();
        const int windowStart = qMax(0, at - 32768);
        if (at > 0)
            deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(content.constData() + windowStart),
                                 uInt(at - windowStart));
        QByteArray out(int(deflateBound(&stream, uLong(length))) + 16, '\0');
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData() + at));
        stream.avail_in = uInt(length);
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(out.size());
        const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        out.truncate(int(stream.total_out));
        deflateEnd(&stream);
        if (result != (last ? Z_STREAM_END : Z_OK))
            return QByteArray();
        member += out;
        if (last)
            break;
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(content.constData()),
                            uInt(content.size()));
    for (int i = 0; i < 4; ++i)
        member += char((crc >> (8 * i)) & 0xff);
    for (int i = 0; i < 4; ++i)
        member += char((quint32(content.size()) >> (8 * i)) & 0xff);
    return member;
}

} // namespace

class TestBlockDeflater : public QObject
{
    Q_OBJECT

private slots:
    void membersRead_data();
    void membersRead();
    void sizeCloseToOneStream();
    void bytesOfFreshStreams_data();
    void bytesOfFreshStreams();
    void failingSinkFails();
};

void TestBlockDeflater::membersRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("piece");
    QTest::addColumn<int>("interrupt");

    const int none = int(Interrupt::None);
    QTest::newRow("empty") << QByteArray() << 1 << none;
    QTest::newRow("one byte") << QByteArray("x") << 1 << none;
    QTest::newRow("exactly one block") << payload(int(BlockDeflater::BlockSize)) << 4096 << none;
    QTest::newRow("one block and a byte") << payload(int(BlockDeflater::BlockSize) + 1) << 70001 << none;
    QTest::newRow("many blocks in one write") << payload(5000000) << 5000000 << none;
    QTest::newRow("incompressible blocks") << payload(1500000, false) << 100000 << none;
    QTest::newRow("flush after the first piece") << payload(900000) << 300001 << int(Interrupt::Flush);
    QTest::newRow("new level after the first piece") << payload(900000) << 12345 << int(Interrupt::Level);
}

// Every number of threads gives the same bytes, which gzip and zlib read back as the content; at
// an explicit level and at the default one, whose search differs from zlib's (a stream reused
// for the next block must search as a fresh one does).
void TestBlockDeflater::membersRead()
{
    QFETCH(QByteArray, content);
    QFETCH(int, piece);
    QFETCH(int, interrupt);

    for (int level : {6, Z_DEFAULT_COMPRESSION}) {
        const Member single = deflated(content, 1, piece, Interrupt(interrupt), level);
        QVERIFY(single.ok);
        QCOMPARE(inflated(single.bytes), content);
        QByteArray unzipped;
        QVERIFY(runGzip({QStringLiteral("-dc")}, single.bytes, &unzipped));
        QCOMPARE(unzipped, content);
        for (unsigned threads : {2u, 5u}) {
            const Member parallel = deflated(content, threads, piece, Interrupt(interrupt), level);
            QVERIFY(parallel.ok);
            QVERIFY2(parallel.bytes == single.bytes, qPrintable(QStringLiteral("level %1").arg(level)));
        }
    }
}

void TestBlockDeflater::sizeCloseToOneStream()
{
    const QByteArray content = payload(8000000);
    const Member member = deflated(content, 0, 1 << 20);
    QVERIFY(member.ok);
    const QByteArray reference = gzipped(content, QStringLiteral("-6"));
    QVERIFY(!reference.isEmpty());
    QVERIFY2(member.bytes.size() <= reference.size() * 1.01,
             qPrintable(QStringLiteral("%1 against %2").arg(member.bytes.size()).arg(reference.size())));
}

void TestBlockDeflater::bytesOfFreshStreams_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<unsigned>("threads");

    QTest::newRow("empty") << QByteArray() << 1u;
    QTest::newRow("exactly two blocks, one thread") << payload(2 * int(BlockDeflater::BlockSize)) << 1u;
    QTest::newRow("many blocks, one thread") << payload(3000001) << 1u;
    QTest::newRow("many blocks, three threads") << payload(3000001) << 3u;
    QTest::newRow("incompressible, eight threads") << payload(4000000, false) << 8u;
}

// The deflater keeps its zlib streams and buffers from block to block; the bytes stay those of a
// fresh stream per block, built here without it.
void TestBlockDeflater::bytesOfFreshStreams()
{
    QFETCH(QByteArray, content);
    QFETCH(unsigned, threads);
    const QByteArray reference = referenceMember(content, 6);
    QVERIFY(!reference.isEmpty());
    QCOMPARE(inflated(reference), content);
    const Member member = deflated(content, threads, 100003);
    QVERIFY(member.ok);
    QVERIFY2(
        member.bytes == reference,
        qPrintable(QStringLiteral("%1 bytes against %2").arg(member.bytes.size()).arg(reference.size())));
}

// A sink that refuses bytes fails the member; finish() must not report success.
void TestBlockDeflater::failingSinkFails()
{
    for (unsigned threads : {1u, 3u}) {
        int calls = 0;
        BlockDeflater deflater(
            [&calls](const char *, size_t) {
                ++calls;
                return calls < 3;
            },
            6, Z_DEFAULT_STRATEGY, threads);
        const QByteArray content = payload(3000000, false);
        bool written = true;
        for (int at = 0; at < content.size() && written; at += 100000)
            written = deflater.write(content.constData() + at, 100000);
        QVERIFY(!deflater.finish());
        QVERIFY(deflater.error() != nullptr);
        QVERIFY(!deflater.write("x", 1));
    }
}

QTEST_GUILESS_MAIN(TestBlockDeflater)
#include "tst_blockdeflater.moc"
