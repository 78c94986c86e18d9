#pragma once

// Test helpers for the geometry value types: readable QCOMPARE failures, exact float checks and the
// capture of diagnostic text.

#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"
#include "pointstrings.h"

#include <QByteArray>
#include <QDebug>
#include <QLocale>
#include <QString>
#include <QtTest>
#include <cmath>
#include <cstring>

namespace geom {

inline char *toString(const Vector3f &v)
{
    return qstrdup(QByteArray("V(" + QByteArray::number(double(v.x), 'g', 9) + ", " +
                              QByteArray::number(double(v.y), 'g', 9) + ", " +
                              QByteArray::number(double(v.z), 'g', 9) + ")")
                       .constData());
}

} // namespace geom

namespace valuetest {

// A locale whose group separator is the no-break space, or the C locale when the system knows none.
inline QLocale noBreakSpaceLocale()
{
    for (const char *name : {"ru_RU", "pl_PL", "cs_CZ", "sk_SK", "uk_UA", "fr_FR", "nb_NO", "fi_FI"}) {
        const QLocale locale(QString::fromLatin1(name));
        if (locale.groupSeparator() == QChar(0x00A0))
            return locale;
    }
    return QLocale::c();
}

// The text a value writes on a QDebug that targets a string (no message handler, so the trailing
// blank of spaced mode stays).
template <typename T>
QString debugText(const T &value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

// Bit-for-bit equality of two floats (so NaN equals the same NaN and -0 differs from +0).
inline bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace valuetest

// Exact equality of two scalars, where NaN equals NaN.
#define QUARN_COMPARE_EXACT(actual, expected)                                                                \
    do {                                                                                                     \
        const double a_ = double(actual);                                                                    \
        const double e_ = double(expected);                                                                  \
        QVERIFY2(a_ == e_ || (std::isnan(a_) && std::isnan(e_)),                                             \
                 qPrintable(QStringLiteral("%1 is %2, expected %3")                                          \
                                .arg(QStringLiteral(#actual))                                                \
                                .arg(a_, 0, 'g', 17)                                                         \
                                .arg(e_, 0, 'g', 17)));                                                      \
    } while (false)

namespace valuetest {

// A sequential device that serves a fixed byte array and then reports a read error, and that takes a
// fixed number of bytes and then reports a write error. A negative limit means no error.
class FaultyDevice : public QIODevice
{
public:
    FaultyDevice(const QByteArray &content, qint64 readLimit, qint64 writeLimit)
        : m_content(content)
        , m_readLimit(readLimit)
        , m_writeLimit(writeLimit)
    {
        open(QIODevice::ReadWrite);
    }
    bool isSequential() const override { return true; }
    QByteArray written() const { return m_written; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_readLimit >= 0 && m_readPos >= m_readLimit)
            return -1;
        qint64 n = qMin(maxSize, qint64(m_content.size()) - m_readPos);
        if (m_readLimit >= 0)
            n = qMin(n, m_readLimit - m_readPos);
        if (n <= 0)
            return m_readLimit >= 0 ? -1 : 0;
        std::memcpy(data, m_content.constData() + m_readPos, size_t(n));
        m_readPos += n;
        return n;
    }
    qint64 writeData(const char *data, qint64 maxSize) override
    {
        if (m_writeLimit >= 0 && m_written.size() >= m_writeLimit)
            return -1;
        const qint64 n = m_writeLimit >= 0 ? qMin(maxSize, m_writeLimit - m_written.size()) : maxSize;
        m_written.append(data, int(n));
        return n;
    }

private:
    QByteArray m_content;
    QByteArray m_written;
    qint64 m_readPos = 0;
    qint64 m_readLimit;
    qint64 m_writeLimit;
};

// The binary array form of one vector type, written by W and read by R: layout, round trip,
// refusal of unusable input and the results on short, failing and lying streams.
template <typename V, typename W, typename R>
void checkArrayForms(W write, R read, const QVector<V> &samples)
{
    const int n = samples.size();
    const int elementSize = int(sizeof(V));

    // Layout: the count in the stream's byte order, then the raw elements in memory order.
    for (QDataStream::ByteOrder order : {QDataStream::BigEndian, QDataStream::LittleEndian}) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setByteOrder(order);
        QCOMPARE(write(out, samples.constData(), n), n);
        QCOMPARE(bytes.size(), 4 + n * elementSize);
        QByteArray count(4, '\0');
        qToBigEndian<qint32>(n, count.data());
        if (order == QDataStream::LittleEndian)
            qToLittleEndian<qint32>(n, count.data());
        QCOMPARE(bytes.left(4), count);
        QCOMPARE(bytes.mid(4),
                 QByteArray(reinterpret_cast<const char *>(samples.constData()), n * elementSize));

        QDataStream in(bytes);
        in.setByteOrder(order);
        QVector<V> back;
        QCOMPARE(read(in, back), n);
        QCOMPARE(back, samples);
        QCOMPARE(in.status(), QDataStream::Ok);
        QVERIFY(in.atEnd());
    }

    // Nothing is written on a stream that has failed, nor for a negative count or a missing array.
    {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setStatus(QDataStream::WriteFailed);
        QCOMPARE(write(out, samples.constData(), n), 0);
        QDataStream fresh(&bytes, QIODevice::WriteOnly);
        QCOMPARE(write(fresh, samples.constData(), -1), 0);
        QCOMPARE(write(fresh, nullptr, 2), 0);
        QVERIFY(bytes.isEmpty());
        QCOMPARE(write(fresh, nullptr, 0), 0);
        QCOMPARE(bytes.size(), 4);
    }

    // A device that takes the count and part of the elements: the whole elements taken count; a
    // device that refuses everything after the count gives -1.
    {
        FaultyDevice partial(QByteArray(), -1, 4 + elementSize + elementSize / 2);
        QDataStream out(&partial);
        QCOMPARE(write(out, samples.constData(), n), 1);
        FaultyDevice refusing(QByteArray(), -1, 4);
        QDataStream out2(&refusing);
        QCOMPARE(write(out2, samples.constData(), n), -1);
    }

    QVector<V> before{samples.first()};
    // A missing or cut count reads nothing and leaves the vector alone.
    for (int cut : {0, 2}) {
        QDataStream in(QByteArray(cut, '\0'));
        QVector<V> v = before;
        QCOMPARE(read(in, v), 0);
        QCOMPARE(v, before);
        QCOMPARE(in.status(), QDataStream::ReadPastEnd);
    }
    // A negative count is corrupt data.
    {
        QByteArray bytes;
        QDataStream(&bytes, QIODevice::WriteOnly) << qint32(-3);
        QDataStream in(bytes);
        QVector<V> v = before;
        QCOMPARE(read(in, v), 0);
        QCOMPARE(v, before);
        QCOMPARE(in.status(), QDataStream::ReadCorruptData);
    }
    // Fewer bytes than the count promises: the whole elements present, and the stream says so.
    // A count near the largest int must not make the reader reserve memory for it.
    for (qint32 claimed : {n, qint32(0x7FFFFFFF)}) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << claimed;
        bytes.append(reinterpret_cast<const char *>(samples.constData()), (n - 1) * elementSize + 1);
        QDataStream in(bytes);
        QVector<V> v = before;
        QCOMPARE(read(in, v), n - 1);
        QCOMPARE(v, samples.mid(0, n - 1));
        QCOMPARE(in.status(), QDataStream::ReadPastEnd);
    }
    // A device error while the elements are read gives -1 and leaves the vector alone.
    {
        QByteArray bytes;
        QDataStream(&bytes, QIODevice::WriteOnly) << qint32(n);
        bytes.append(reinterpret_cast<const char *>(samples.constData()), n * elementSize);
        FaultyDevice failing(bytes, 4, -1);
        QDataStream in(&failing);
        QVector<V> v = before;
        QCOMPARE(read(in, v), -1);
        QCOMPARE(v, before);
        QVERIFY(in.status() != QDataStream::Ok);
    }
}

} // namespace valuetest
