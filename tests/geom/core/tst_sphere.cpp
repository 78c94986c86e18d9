#include "geom/core/sphere.h"

#include "valuesupport.h"

#include <QtTest>
#include <cmath>
#include <cstring>

using geom::Sphere;
using geom::Vector3f;

namespace {
Sphere sphere(float x, float y, float z, float r)
{
    return Sphere(Vector3f(x, y, z), r);
}

bool same(const Sphere &a, const Sphere &b)
{
    return a.center() == b.center() && a.radius() == b.radius();
}

#define COMPARE_SPHERE(actual, expected)                                                                     \
    QVERIFY2(same(actual, expected), QByteArray(valuetest::debugText(actual).toUtf8() + "instead of " +      \
                                                valuetest::debugText(expected).toUtf8())                     \
                                         .constData())
} // namespace

class TestSphere : public QObject
{
    Q_OBJECT

private slots:
    void layoutAndText();
    void growth();
    void intersectAndUnite();
    void measures();
    void mapped_data();
    void mapped();
};

void TestSphere::layoutAndText()
{
    // Four floats: centre x, y, z, then the radius.
    const Sphere s = sphere(1, 2, 3, 4);
    float raw[4];
    std::memcpy(raw, &s, sizeof raw);
    QCOMPARE(QVector<float>(raw, raw + 4), QVector<float>({1, 2, 3, 4}));

    QCOMPARE(valuetest::debugText(Sphere()), QStringLiteral("Sphere(invalid) "));
    QCOMPARE(valuetest::debugText(sphere(1, 2, 3, 0.5f)), QStringLiteral("Sphere(1, 2, 3 : 0.5) "));
    QVERIFY(Sphere().isNull() && Sphere().isEmpty() && !Sphere().isValid());
    COMPARE_SPHERE(Sphere(Vector3f(0, 0, 0), Vector3f(0, 0, 4)), sphere(0, 0, 2, 2));
}

void TestSphere::growth()
{
    Sphere s;
    s.expand(Vector3f(0, 0, 1));
    COMPARE_SPHERE(s, sphere(0, 0, 1, 0));
    s.expand(Vector3f(0, 0, 3));
    COMPARE_SPHERE(s, sphere(0, 0, 2, 1));
    s.expand(Vector3f(0.5f, 0.5f, 2));
    COMPARE_SPHERE(s, sphere(0, 0, 2, 1));
    s.expand(Vector3f(0, 0, 6));
    COMPARE_SPHERE(s, sphere(0, 0, 3.5f, 2.5f));
    QVERIFY(s.contains(Vector3f(0, 0, 1)));
    QVERIFY(!s.contains(Vector3f(0, 0, 0.99f)));
}

void TestSphere::intersectAndUnite()
{
    COMPARE_SPHERE(sphere(0, 0, 0, 1) & sphere(0, 2, 0, 1), sphere(0, 1, 0, 0));
    COMPARE_SPHERE(sphere(0, 0, 0, 1) & sphere(0, 0, 1, 1), sphere(0, 0, 0.5f, float(std::sqrt(0.75f))));
    QVERIFY((sphere(0, 0, 0, 1) & sphere(3, 0, 0, 1)).isNull());
    COMPARE_SPHERE(sphere(0, 0, 0, 9) & sphere(1, 1, 1, 1), sphere(1, 1, 1, 1));
    QVERIFY(sphere(0, 0, 0, 1).intersects(sphere(0, 0, 2, 1)));
    QVERIFY(!sphere(0, 0, 0, 1).intersects(sphere(0, 0, 2.001f, 1)));

    COMPARE_SPHERE(sphere(0, 0, 0, 1) | sphere(0, 0, 4, 1), sphere(0, 0, 2, 3));
    COMPARE_SPHERE(Sphere() | sphere(1, 2, 3, 4), sphere(1, 2, 3, 4));
    COMPARE_SPHERE(sphere(1, 1, 1, 1) | sphere(0, 0, 0, 9), sphere(0, 0, 0, 9));
    QVERIFY(sphere(0, 0, 0, 9).contains(sphere(1, 1, 1, 1)));
}

void TestSphere::measures()
{
    const float pi = 3.1415927f;
    const Sphere s = sphere(0, 0, 0, 3);
    QUARN_COMPARE_EXACT(s.surface(), (4.0f * pi) * 3.0f * 3.0f);
    QUARN_COMPARE_EXACT(s.volume(), (1.3333334f * pi) * 3.0f * 3.0f * 3.0f);
    QVERIFY(std::fabs(s.volume() - float(4.0 / 3.0 * M_PI * 27.0)) < 1e-4f);
    // The radius as stored, null or not.
    QUARN_COMPARE_EXACT(Sphere().volume(), (1.3333334f * pi) * -1.0f);
}

void TestSphere::mapped_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<Sphere>("expected");
    // applied to the sphere (1, 0, 0) radius 2
    QTest::newRow("identity") << QMatrix4x4() << sphere(1, 0, 0, 2);
    QMatrix4x4 moved;
    moved.translate(1, 2, 3);
    QTest::newRow("translation") << moved << sphere(2, 2, 3, 2);
    QMatrix4x4 scaled;
    scaled.translate(0, 0, 5);
    scaled.scale(1, 3, 2);
    QTest::newRow("largest axis scale") << scaled << sphere(1, 0, 5, 6);
    // The centre is only moved: a rotation about the origin keeps it where it is.
    QMatrix4x4 turned;
    turned.rotate(90, 0, 0, 1);
    QTest::newRow("rotation") << turned << sphere(1, 0, 0, 2);
    // The columns are measured as 4-vectors, bottom row included.
    QMatrix4x4 projective;
    projective(3, 0) = 1;
    QTest::newRow("bottom row counts") << projective << sphere(1, 0, 0, 2 * float(std::sqrt(2.0)));
    // The squared lengths are summed in double: a float sum of these squares rounds the scale to
    // 3.31968999 instead of 3.31968975.
    QMatrix4x4 skew;
    skew.setColumn(0, QVector4D(1.663f, 2.554f, 1.316f, 0));
    const double squared = double(1.663f) * 1.663f + double(2.554f) * 2.554f + double(1.316f) * 1.316f;
    QTest::newRow("scale summed in double") << skew << sphere(1, 0, 0, 2 * float(std::sqrt(squared)));
}

void TestSphere::mapped()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(Sphere, expected);
    const Sphere s = sphere(1, 0, 0, 2).mapped(m);
    QCOMPARE(s.center(), expected.center());
    QUARN_COMPARE_EXACT(s.radius(), expected.radius());
}

QTEST_GUILESS_MAIN(TestSphere)
#include "tst_sphere.moc"
