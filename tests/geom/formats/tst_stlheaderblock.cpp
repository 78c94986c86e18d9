#include "geom/formats/stlheaderblock.h"

#include <QTransform>
#include <QVector3D>
#include <QtTest>

using geom::StlHeaderBlock;

namespace {

QByteArray blanks(int n)
{
    return QByteArray(n, ' ');
}

QByteArray tagged(const QByteArray &values)
{
    return (QByteArray("\x94\x1b", 2) + values).leftJustified(80, ' ');
}

} // namespace

class TestStlHeaderBlock : public QObject
{
    Q_OBJECT

private slots:
    void defaultBlock();
    void fromBytes();
    void setValues_data();
    void setValues();
    void values();
    void roundTrip();
};

void TestStlHeaderBlock::defaultBlock()
{
    const QByteArray expected = QByteArray("\x1b\x94", 2) + blanks(78);
    QCOMPARE(StlHeaderBlock().toByteArray(), expected);
    QCOMPARE(StlHeaderBlock(static_cast<const char *>(nullptr)).toByteArray(), expected);
    char out[80];
    StlHeaderBlock().copyTo(out);
    QCOMPARE(QByteArray(out, 80), expected);
}

void TestStlHeaderBlock::fromBytes()
{
    const QByteArray text = QByteArray("solid ").repeated(20);
    QCOMPARE(StlHeaderBlock(text.constData()).toByteArray(), text.left(80));

    StlHeaderBlock block;
    block.setBytes(text);
    QCOMPARE(block.toByteArray(), text.left(80));
    block.setBytes("abc");
    QCOMPARE(block.toByteArray(), QByteArray("abc") + blanks(77));
}

void TestStlHeaderBlock::setValues_data()
{
    QTest::addColumn<QList<QVariant>>("list");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QList<QVariant>() << 0 << tagged(QByteArray());
    QTest::newRow("int and float") << QList<QVariant>{7, QVariant::fromValue(1.5f)} << 2
                                   << tagged(QByteArray("\x07\0\0\0\0\0\xc0\x3f", 8));
    QTest::newRow("short, char, vector")
        << QList<QVariant>{QVariant::fromValue<short>(-2), QVariant::fromValue<char>('A'),
                           QVariant::fromValue(QVector3D(1, 0, -2))}
        << 3
        << tagged(QByteArray("\xfe\xff"
                             "A"
                             "\0\0\x80\x3f"
                             "\0\0\0\0"
                             "\0\0\0\xc0",
                             15));
    QTest::newRow("unsupported skipped")
        << QList<QVariant>{QStringLiteral("text"), 1} << 1 << tagged(QByteArray("\x01\0\0\0", 4));

    // Two transforms take 2 + 72 bytes; one int fits (78), the next would end at 82.
    const QTransform scale = QTransform::fromScale(2, 3);
    QByteArray transformBytes;
    {
        QDataStream s(&transformBytes, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::LittleEndian);
        s.setFloatingPointPrecision(QDataStream::SinglePrecision);
        s << scale << scale << qint32(5);
    }
    QCOMPARE(transformBytes.size(), 76);
    QTest::newRow("last value does not fit")
        << QList<QVariant>{QVariant::fromValue(scale), QVariant::fromValue(scale), 5, 6} << 3
        << tagged(transformBytes);
}

void TestStlHeaderBlock::setValues()
{
    QFETCH(QList<QVariant>, list);
    QFETCH(int, stored);
    QFETCH(QByteArray, bytes);

    StlHeaderBlock block;
    QCOMPARE(block.setValues(list), stored);
    QCOMPARE(block.toByteArray(), bytes);
    QCOMPARE(StlHeaderBlock(list).toByteArray(), bytes);
}

void TestStlHeaderBlock::values()
{
    const StlHeaderBlock block(QList<QVariant>{7, QVariant::fromValue(1.5f)});
    const QList<QVariant> read = block.values({QMetaType::Int, QMetaType::Float, QMetaType::Int});
    QCOMPARE(read.size(), 3);
    QCOMPARE(read[0], QVariant(7));
    QCOMPARE(read[1].userType(), int(QMetaType::Float));
    QCOMPARE(read[1].toFloat(), 1.5f);
    QCOMPARE(read[2], QVariant(538976288)); // four blanks

    // Unknown ids read nothing; ids past the 80 bytes come back invalid.
    QList<int> types{QMetaType::QString, QMetaType::Int};
    for (int i = 0; i < 20; ++i)
        types << QMetaType::Int;
    const QList<QVariant> many = block.values(types);
    QVERIFY(!many[0].isValid());
    QCOMPARE(many[1], QVariant(7));
    QVERIFY(many[19].isValid());  // bytes 74..77
    QVERIFY(!many[20].isValid()); // only two bytes left
    QVERIFY(!many[21].isValid());
}

void TestStlHeaderBlock::roundTrip()
{
    const QTransform transform = QTransform().rotate(30).translate(1.5, -2);
    const QVector3D vector(0.25f, -8, 1e6f);
    const QList<QVariant> list{QVariant::fromValue<short>(-300), QVariant::fromValue(transform),
                               QVariant::fromValue<char>('z'), QVariant::fromValue(vector),
                               QVariant::fromValue(-0.125f)};
    const StlHeaderBlock block(list);
    const QList<QVariant> read = block.values(
        {QMetaType::Short, QMetaType::QTransform, QMetaType::Char, QMetaType::QVector3D, QMetaType::Float});
    QCOMPARE(read[0], QVariant(-300));
    const QTransform t = read[1].value<QTransform>();
    QCOMPARE(float(t.m11()), float(transform.m11()));
    QCOMPARE(float(t.m12()), float(transform.m12()));
    QCOMPARE(float(t.dx()), float(transform.dx()));
    QCOMPARE(float(t.dy()), float(transform.dy()));
    QCOMPARE(read[2], QVariant(int('z')));
    QCOMPARE(read[3].value<QVector3D>(), vector);
    QCOMPARE(read[4].toFloat(), -0.125f);
}

QTEST_GUILESS_MAIN(TestStlHeaderBlock)
#include "tst_stlheaderblock.moc"
