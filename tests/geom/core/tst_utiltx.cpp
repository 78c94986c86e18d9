#include "geom/core/utiltx.h"

#include "guardedfloats.h"

#include <QMatrix4x4>
#include <QTransform>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

// QCOMPARE of floats is fuzzy; these results are exact.
#define COMPARE_EXACT(actual, expected)                                                                      \
    QVERIFY2(                                                                                                \
        (actual) == (expected),                                                                              \
        qPrintable(QString("%1 != %2").arg(double(actual), 0, 'g', 9).arg(double(expected), 0, 'g', 9)))

using geom::Cuboid;
using geom::Rectangle;
using geom::Vector2f;
using geom::Vector3f;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Collects what goes to Qt's message handler while it lives.
class MessageLog
{
public:
    MessageLog()
    {
        s_log = this;
        m_previous = qInstallMessageHandler(handler);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_log = nullptr;
    }
    QList<QPair<QtMsgType, QString>> messages;

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        s_log->messages.append(qMakePair(type, text));
    }
    static MessageLog *s_log;
    QtMessageHandler m_previous;
};
MessageLog *MessageLog::s_log = nullptr;

// Reproducible coordinates with all bits of the mantissa in use.
std::vector<float> randomFloats(int count, unsigned seed = 7)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
    std::vector<float> v(size_t(count) + 1);
    for (float &f : v)
        f = dist(gen);
    return v;
}

// The whole-matrix formula of one point, written out here as the reference: sums left to right,
// then the division by w for a projective matrix.
void referenceMap3(const QMatrix4x4 &m, bool project, const float *p, float *o)
{
    const float *a = m.constData();
    const float x = p[0], y = p[1], z = p[2];
    float r[3];
    for (int row = 0; row < 3; ++row)
        r[row] = ((a[row] * x + a[4 + row] * y) + a[8 + row] * z) + a[12 + row];
    if (project) {
        const float w = ((a[3] * x + a[7] * y) + a[11] * z) + a[15];
        for (float &c : r)
            c /= w;
    }
    std::copy(r, r + 3, o);
}

std::vector<float> referenceMap3(const QMatrix4x4 &m, const std::vector<float> &in, int n)
{
    const bool project = utilTX::transformType(m) & utilTX::Project;
    std::vector<float> out(size_t(3 * n));
    for (int i = 0; i < n; ++i)
        referenceMap3(m, project, &in[size_t(3 * i)], &out[size_t(3 * i)]);
    return out;
}

// The full affine 2D formula of one point.
std::vector<float> referenceMap2(const QTransform &t, const std::vector<float> &in, int n)
{
    const float m11 = float(t.m11()), m12 = float(t.m12()), m21 = float(t.m21()), m22 = float(t.m22());
    const float dx = float(t.dx()), dy = float(t.dy());
    std::vector<float> out(size_t(2 * n));
    for (int i = 0; i < n; ++i) {
        const float x = in[size_t(2 * i)], y = in[size_t(2 * i + 1)];
        out[size_t(2 * i)] = (m11 * x + m21 * y) + dx;
        out[size_t(2 * i + 1)] = (m12 * x + m22 * y) + dy;
    }
    return out;
}

Cuboid boxOf(const std::vector<float> &xyz, int n, Cuboid box = Cuboid())
{
    for (int i = 0; i < n; ++i)
        box.expand(Vector3f(xyz[size_t(3 * i)], xyz[size_t(3 * i + 1)], xyz[size_t(3 * i + 2)]));
    return box;
}

bool sameBits(const std::vector<float> &a, const std::vector<float> &b, QByteArray *why = nullptr)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            if (why)
                *why = QByteArray("float ") + QByteArray::number(qulonglong(i)) + ": " +
                       QByteArray::number(a[i], 'g', 9) + " vs " + QByteArray::number(b[i], 'g', 9);
            return false;
        }
    }
    return true;
}

bool sameBox(const Cuboid &a, const Cuboid &b)
{
    return std::memcmp(a.data(), b.data(), 6 * sizeof(float)) == 0;
}

bool sameRect(const Rectangle &a, const Rectangle &b)
{
    return a.min() == b.min() && a.max() == b.max();
}

QMatrix4x4 generalMatrix()
{
    QMatrix4x4 m;
    m.translate(12.5f, -3.25f, 7.0f);
    m.rotate(33.0f, 0.3f, -0.8f, 0.5f);
    m.scale(1.7f, 0.9f, -2.3f);
    return m;
}

QMatrix4x4 projectiveMatrix()
{
    QMatrix4x4 m = generalMatrix();
    m(3, 0) = 0.003f;
    m(3, 1) = -0.002f;
    m(3, 2) = 0.001f;
    m(3, 3) = 1.5f;
    return m;
}

// Rows of the matrix kinds every mapper is checked with.
QList<QPair<const char *, QMatrix4x4>> matrixKinds()
{
    QMatrix4x4 translate;
    translate.translate(5.0f, -6.0f, 0.25f);
    QMatrix4x4 scale;
    scale.scale(2.0f, -0.5f, 3.0f);
    QMatrix4x4 nearIdentity;
    nearIdentity(0, 1) = 1e-6f;
    nearIdentity(2, 3) = 1e-6f;
    return {{"general", generalMatrix()}, {"projective", projectiveMatrix()},
            {"translate", translate},     {"scale", scale},
            {"identity", QMatrix4x4()},   {"near identity", nearIdentity}};
}

// The classification of m, straight and through its float form by toFloat, is expected.
template <int N, typename Matrix>
void compareTransformType(const Matrix &m, float *(*toFloat)(float (&)[N], const Matrix &), int expected)
{
    QCOMPARE(utilTX::transformType(m), expected);
    float f[N];
    toFloat(f, m);
    QCOMPARE(utilTX::transformType(f), expected);
}

QTransform generalTransform()
{
    return QTransform().translate(3.5, -1.25).rotate(27.0).scale(1.3, -0.7);
}

} // namespace

class TestUtilTX : public QObject
{
    Q_OBJECT

private slots:
    void transformType3x3_data();
    void transformType3x3();
    void transformType4x4_data();
    void transformType4x4();
    void isMirroring_data();
    void isMirroring();
    void isDegenerate_data();
    void isDegenerate();

    void map3DfMatchesPerPoint_data();
    void map3DfMatchesPerPoint();
    void map3DfScalarUsesFormulaOfType();
    void map3DfBoundsOnlyGrow();
    void map3DfBoundsIgnoreNaNPoints();
    void map2DfMatchesPerPoint_data();
    void map2DfMatchesPerPoint();
    void map2DfProjectiveFallsBack();
    void mapBounds2DfRefusesProjective();
    void map2DfScalarSkipsTinyTerms();
    void identityInPlaceWritesNothing();
    void mappersStayInsideTheirArrays_data();
    void mappersStayInsideTheirArrays();
    void nullArgumentsDoNothing();

    void mapPoint_data();
    void mapPoint();
};

void TestUtilTX::transformType3x3_data()
{
    QTest::addColumn<QTransform>("t");
    QTest::addColumn<int>("expected");
    QTest::newRow("identity") << QTransform() << 0;
    QTest::newRow("scale within tolerance") << QTransform::fromScale(1.000001, 1.000001) << 0;
    QTest::newRow("scale half on x") << QTransform::fromScale(0.5, 1.0) << int(utilTX::Scale);
    QTest::newRow("translate 1e-5") << QTransform::fromTranslate(1e-5, 0) << 0;
    QTest::newRow("translate 2e-5") << QTransform::fromTranslate(0, 2e-5) << int(utilTX::Translate);
    QTest::newRow("rotate 30") << QTransform().rotate(30) << int(utilTX::Scale | utilTX::Rotate);
    QTest::newRow("shear") << QTransform(1, 0.5, 0, 1, 0, 0) << int(utilTX::Rotate);
    QTest::newRow("m33 = 2") << QTransform(1, 0, 0, 0, 1, 0, 0, 0, 2) << int(utilTX::Project);
    QTest::newRow("m13 = 0.001") << QTransform(1, 0, 0.001, 0, 1, 0, 0, 0, 1) << int(utilTX::Project);
    QTest::newRow("NaN m11") << QTransform(qQNaN(), 0, 0, 1, 0, 0) << int(utilTX::Scale);
    QTest::newRow("NaN m21") << QTransform(1, 0, qQNaN(), 1, 0, 0) << int(utilTX::Rotate);
    QTest::newRow("NaN dy") << QTransform(1, 0, 0, 1, 0, qQNaN()) << int(utilTX::Translate);
    QTest::newRow("NaN m33") << QTransform(1, 0, 0, 0, 1, 0, 0, 0, qQNaN()) << int(utilTX::Project);
    QTest::newRow("everything") << QTransform(2, 0.5, 0.1, 0.25, 3, 0, 4, 5, 1)
                                << int(utilTX::Translate | utilTX::Scale | utilTX::Rotate | utilTX::Project);
}

void TestUtilTX::transformType3x3()
{
    QFETCH(QTransform, t);
    QFETCH(int, expected);
    compareTransformType(t, utilTX::toFloat3x3, expected);
}

void TestUtilTX::transformType4x4_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<int>("expected");
    auto with = [](int row, int column, float value) {
        QMatrix4x4 m;
        m(row, column) = value;
        return m;
    };
    QMatrix4x4 rotation;
    rotation.rotate(30.0f, 0.0f, 0.0f, 1.0f);
    QMatrix4x4 perspective;
    perspective.perspective(45.0f, 1.5f, 0.1f, 100.0f);
    QTest::newRow("identity") << QMatrix4x4() << 0;
    // Qt does not call these the identity; the tolerant tests do.
    QTest::newRow("off-diagonal 1e-6") << with(1, 2, 1e-6f) << 0;
    QTest::newRow("diagonal 1.000001") << with(2, 2, 1.000001f) << 0;
    QTest::newRow("translate 1e-5") << with(0, 3, 1e-5f) << 0;
    QTest::newRow("translate 2e-5") << with(1, 3, 2e-5f) << int(utilTX::Translate);
    QTest::newRow("scale half") << with(1, 1, 0.5f) << int(utilTX::Scale);
    QTest::newRow("shear") << with(2, 0, 0.25f) << int(utilTX::Rotate);
    QTest::newRow("rotate 30 about z") << rotation << int(utilTX::Scale | utilTX::Rotate);
    QTest::newRow("w row") << with(3, 1, 0.5f) << int(utilTX::Project);
    QTest::newRow("w scale") << with(3, 3, 2.0f) << int(utilTX::Project);
    QTest::newRow("perspective") << perspective << int(utilTX::Scale | utilTX::Translate | utilTX::Project);
    QTest::newRow("NaN off-diagonal") << with(0, 1, kNaN) << int(utilTX::Rotate);
    QTest::newRow("NaN translation") << with(2, 3, kNaN) << int(utilTX::Translate);
}

void TestUtilTX::transformType4x4()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(int, expected);
    compareTransformType(m, utilTX::toFloat4x4, expected);
}

void TestUtilTX::isMirroring_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<bool>("expected");
    auto scaled = [](float x, float y, float z) {
        QMatrix4x4 m;
        m.scale(x, y, z);
        return m;
    };
    QMatrix4x4 half;
    half.rotate(180.0f, 0.0f, 0.0f, 1.0f);
    QMatrix4x4 mirroredMove = generalMatrix();
    mirroredMove.scale(1.0f, 1.0f, -1.0f);
    QTest::newRow("identity") << QMatrix4x4() << false;
    QTest::newRow("mirror x") << scaled(-1, 1, 1) << true;
    QTest::newRow("mirror z") << scaled(1, 1, -1) << true;
    QTest::newRow("two axes") << scaled(-1, -1, 1) << false;
    QTest::newRow("three axes") << scaled(-1, -1, -1) << true;
    QTest::newRow("rotate 180 about z") << half << false;
    QTest::newRow("singular") << scaled(1, 1, 0) << false;
    QTest::newRow("singular mirror") << scaled(-1, 0, 1) << false;
    QTest::newRow("general with negative scale") << generalMatrix() << true;
    QTest::newRow("general mirrored back") << mirroredMove << false;
}

void TestUtilTX::isMirroring()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(bool, expected);
    QCOMPARE(utilTX::isMirroring(m), expected);
}

void TestUtilTX::isDegenerate_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<bool>("expected");
    auto scaled = [](float x, float y, float z) {
        QMatrix4x4 m;
        m.scale(x, y, z);
        return m;
    };
    QMatrix4x4 turnedSmall = generalMatrix();
    turnedSmall.scale(0.01f);
    QTest::newRow("identity") << QMatrix4x4() << false;
    // The determinant 1e-6 is small in absolute terms, but the matrix keeps the shape.
    QTest::newRow("uniform scale 0.01") << scaled(0.01f, 0.01f, 0.01f) << false;
    QTest::newRow("general, scaled down") << turnedSmall << false;
    QTest::newRow("mirror") << scaled(-1, 1, 1) << false;
    QTest::newRow("flat on z") << scaled(1, 1, 0) << true;
    // det 1e-6 against 1e-5 s^3 = 1e-5: this one flattens z by a factor of a million.
    QTest::newRow("near-flat on z") << scaled(1, 1, 1e-6f) << true;
    QTest::newRow("limit, det = 1e-5 s^3") << scaled(1, 1, 1e-5f) << true;
    QTest::newRow("just above the limit") << scaled(1, 1, 2e-5f) << false;
    QTest::newRow("zero") << QMatrix4x4(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) << true;
}

void TestUtilTX::isDegenerate()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(bool, expected);
    QCOMPARE(utilTX::isDegenerate(m), expected);
}

void TestUtilTX::map3DfMatchesPerPoint_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("inPlace");
    for (const auto &kind : matrixKinds()) {
        for (int n = 0; n <= 17; ++n) {
            for (bool inPlace : {false, true}) {
                QTest::addRow("%s, %d points, %s", kind.first, n, inPlace ? "in place" : "out of place")
                    << kind.second << n << inPlace;
            }
        }
    }
}

// The vector path and the per-point path give the same bits, in place and out of place, and the
// grown box is the one of the mapped points.
void TestUtilTX::map3DfMatchesPerPoint()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(int, n);
    QFETCH(bool, inPlace);

    const std::vector<float> in = randomFloats(3 * n, unsigned(n) + 11);
    const std::vector<float> expected = referenceMap3(m, in, n);

    std::vector<float> src(in.begin(), in.begin() + 3 * n);
    std::vector<float> dst(src.size() + 3, 42.0f);
    float *out = inPlace ? src.data() : dst.data();
    Cuboid box;
    QCOMPARE(utilTX::map3Df(out, m, src.data(), n, &box), out);

    QByteArray why;
    QVERIFY2(sameBits(std::vector<float>(out, out + 3 * n), expected, &why), why.constData());
    if (!inPlace) {
        QVERIFY(sameBits(src, std::vector<float>(in.begin(), in.begin() + 3 * n)));
        COMPARE_EXACT(dst[size_t(3 * n)], 42.0f);
    }
    QVERIFY(sameBox(box, boxOf(expected, n)));
    QVERIFY(sameBox(utilTX::mapBounds3Df(m, in.data(), n), boxOf(expected, n)));

    // One point at a time takes the per-point path only.
    std::vector<float> single(size_t(3 * n));
    for (int i = 0; i < n; ++i)
        utilTX::map3Df(&single[size_t(3 * i)], m, &in[size_t(3 * i)], 1);
    QVERIFY2(sameBits(single, expected, &why), why.constData());

    // For matrices whose type takes the full formula, the scalar mapper agrees bit for bit too.
    if (utilTX::transformType(m) & (utilTX::Rotate | utilTX::Project)) {
        std::vector<float> scalar(size_t(3 * n));
        Cuboid scalarBox;
        utilTX::map3DfScalar(scalar.data(), m, in.data(), n, &scalarBox);
        QVERIFY2(sameBits(scalar, expected, &why), why.constData());
        QVERIFY(sameBox(scalarBox, box));
    }
}

// The per-point mapper picks the formula of the classification: terms within the tolerance are
// not applied, the identity copies.
void TestUtilTX::map3DfScalarUsesFormulaOfType()
{
    QMatrix4x4 m;
    m.scale(2.0f, 3.0f, 4.0f);
    m(0, 1) = 1e-6f; // not applied: the type is Scale only
    m(1, 3) = 0.5f;
    const float in[6] = {1.0f, 10.0f, 100.0f, -2.0f, -3.0f, -4.0f};
    float out[6];
    utilTX::map3DfScalar(out, m, in, 2);
    const float expected[6] = {2.0f, 30.5f, 400.0f, -4.0f, -8.5f, -16.0f};
    for (int i = 0; i < 6; ++i)
        COMPARE_EXACT(out[i], expected[i]);
    // The vector mapper applies the whole matrix.
    utilTX::map3Df(out, m, in, 2);
    COMPARE_EXACT(out[0], 2.0f + 1e-6f * 10.0f);
    QVERIFY(out[0] != 2.0f);
}

void TestUtilTX::map3DfBoundsOnlyGrow()
{
    const int n = 9;
    const std::vector<float> in = randomFloats(3 * n);
    const QMatrix4x4 m = generalMatrix();
    const std::vector<float> mapped = referenceMap3(m, in, n);

    Cuboid box;
    box.expand(Vector3f(1000.0f, -1000.0f, 0.0f));
    const Cuboid before = box;
    std::vector<float> out(size_t(3 * n));
    utilTX::map3Df(out.data(), m, in.data(), n, &box);
    QVERIFY(sameBox(box, boxOf(mapped, n, before)));
    COMPARE_EXACT(box.max().x, 1000.0f);
    COMPARE_EXACT(box.min().y, -1000.0f);

    Cuboid scalarBox = before;
    utilTX::map3DfScalar(out.data(), m, in.data(), n, &scalarBox);
    QVERIFY(sameBox(scalarBox, box));
}

// Points whose coordinates are NaN grow nothing, on the vector path as on the per-point path:
// a batch without a single comparable value must not stretch the box to the float limits.
void TestUtilTX::map3DfBoundsIgnoreNaNPoints()
{
    QMatrix4x4 m;
    m.scale(2.0f);
    for (int n : {4, 8, 9}) {
        std::vector<float> in(size_t(3 * n), kNaN);
        Cuboid box(Vector3f(0, 0, 0), Vector3f(1, 1, 1));
        std::vector<float> out(in.size());
        utilTX::map3Df(out.data(), m, in.data(), n, &box);
        QVERIFY2(sameBox(box, Cuboid(Vector3f(0, 0, 0), Vector3f(1, 1, 1))), QByteArray::number(n));
        QVERIFY(utilTX::mapBounds3Df(m, in.data(), n).isNull());
    }
    // Valid points among NaN ones: the box is the one of the valid points alone.
    std::vector<float> in = randomFloats(3 * 9);
    for (int i : {0, 2, 3, 5, 8})
        in[size_t(3 * i + 1)] = kNaN;
    std::vector<float> out(size_t(3 * 9));
    Cuboid box;
    utilTX::map3Df(out.data(), m, in.data(), 9, &box);
    Cuboid expected;
    for (int i : {1, 4, 6, 7})
        expected.expand(
            Vector3f(2 * in[size_t(3 * i)], 2 * in[size_t(3 * i + 1)], 2 * in[size_t(3 * i + 2)]));
    QVERIFY(sameBox(box, expected));
    QVERIFY(sameBox(utilTX::mapBounds3Df(m, in.data(), 9), expected));
}

void TestUtilTX::map2DfMatchesPerPoint_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("inPlace");
    for (int n = 0; n <= 17; ++n) {
        QTest::addRow("%d points, out of place", n) << n << false;
        QTest::addRow("%d points, in place", n) << n << true;
    }
}

void TestUtilTX::map2DfMatchesPerPoint()
{
    QFETCH(int, n);
    QFETCH(bool, inPlace);
    const QTransform t = generalTransform();
    const std::vector<float> in = randomFloats(2 * n, unsigned(n) + 3);
    const std::vector<float> expected = referenceMap2(t, in, n);

    std::vector<float> src(in.begin(), in.begin() + 2 * n);
    std::vector<float> dst(src.size());
    float *out = inPlace ? src.data() : dst.data();
    QCOMPARE(utilTX::map2Df(out, t, src.data(), n), out);
    QByteArray why;
    QVERIFY2(sameBits(std::vector<float>(out, out + 2 * n), expected, &why), why.constData());

    std::vector<float> scalar(in.begin(), in.begin() + 2 * n);
    utilTX::map2DfScalar(scalar.data(), t, scalar.data(), n);
    QVERIFY2(sameBits(scalar, expected, &why), why.constData());

    Rectangle box;
    for (int i = 0; i < n; ++i)
        box.expand(Vector2f(expected[size_t(2 * i)], expected[size_t(2 * i + 1)]));
    QVERIFY(sameRect(utilTX::mapBounds2Df(t, in.data(), n), box));
}

void TestUtilTX::map2DfProjectiveFallsBack()
{
    const QTransform t(1, 0, 0.01, 0, 1, 0.02, 3, 4, 1);
    const int n = 9;
    const std::vector<float> in = randomFloats(2 * n);
    std::vector<float> scalar(size_t(2 * n)), vector(size_t(2 * n));
    utilTX::map2DfScalar(scalar.data(), t, in.data(), n);
    MessageLog log;
    utilTX::map2Df(vector.data(), t, in.data(), n);
    QCOMPARE(log.messages.size(), 1);
    QCOMPARE(log.messages[0].first, QtWarningMsg);
    QCOMPARE(log.messages[0].second, QString("utilTX:map2Df SSE Shear transform not implemented"));
    QVERIFY(sameBits(vector, scalar));
    // Divided by w: the point (0, 0) maps to the translation over m33.
    const float origin[2] = {0, 0};
    float mapped[2];
    utilTX::map2DfScalar(mapped, QTransform(1, 0, 0.5, 0, 1, 0, 3, 4, 2), origin, 1);
    COMPARE_EXACT(mapped[0], 1.5f);
    COMPARE_EXACT(mapped[1], 2.0f);
}

void TestUtilTX::mapBounds2DfRefusesProjective()
{
    const QTransform t(1, 0, 0.01, 0, 1, 0, 0, 0, 1);
    const std::vector<float> in = randomFloats(10);
    {
        MessageLog log;
        QVERIFY(utilTX::mapBounds2Df(t, in.data(), 5).isNull());
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].first, QtCriticalMsg);
        QCOMPARE(log.messages[0].second, QString("utilTX:mapBounds2Df SSE Shear transform not implemented"));
    }
    MessageLog log;
    QVERIFY(utilTX::mapBounds2Df(t, in.data(), 0).isNull());
    QVERIFY(log.messages.isEmpty());
}

void TestUtilTX::map2DfScalarSkipsTinyTerms()
{
    const QTransform t(2, 0, 1e-6, 3, 5, 6); // m21 = 1e-6: scale and translate only
    QCOMPARE(utilTX::transformType(t), int(utilTX::Scale | utilTX::Translate));
    const float in[2] = {10.0f, 1000.0f};
    float scalar[2], vector[2];
    utilTX::map2DfScalar(scalar, t, in, 1);
    utilTX::map2Df(vector, t, in, 1);
    COMPARE_EXACT(scalar[0], 25.0f);
    COMPARE_EXACT(scalar[1], 3006.0f);
    COMPARE_EXACT(vector[0], (2.0f * 10.0f + 1e-6f * 1000.0f) + 5.0f);
    QVERIFY(vector[0] != scalar[0]);
}

// On a read-only array, an identity mapping in place must not write a byte.
void TestUtilTX::identityInPlaceWritesNothing()
{
    GuardedFloats a(3 * 9);
    a.fill(randomFloats(3 * 9));
    const std::vector<float> before = a.values();
    a.makeReadOnly();
    utilTX::map2DfScalar(a.data(), QTransform(), a.data(), 13);
    utilTX::map3DfScalar(a.data(), QMatrix4x4(), a.data(), 9);
    Cuboid box;
    utilTX::map3DfScalar(a.data(), QMatrix4x4(), a.data(), 9, &box);
    QVERIFY(sameBox(box, boxOf(before, 9)));
    QVERIFY(sameBits(a.values(), before));
}

void TestUtilTX::mappersStayInsideTheirArrays_data()
{
    QTest::addColumn<QString>("mapper");
    QTest::addColumn<bool>("inPlace");
    for (const char *name : {"map3Df", "map3DfScalar", "map2Df", "map2DfScalar"}) {
        QTest::addRow("%s out of place", name) << QString(name) << false;
        QTest::addRow("%s in place", name) << QString(name) << true;
    }
    QTest::addRow("mapBounds3Df") << QString("mapBounds3Df") << false;
    QTest::addRow("mapBounds2Df") << QString("mapBounds2Df") << false;
}

// Every array ends at an inaccessible page and starts after a canary: reading or writing past the
// n-th point faults, touching anything before the first shows. An out-of-place input is read-only.
void TestUtilTX::mappersStayInsideTheirArrays()
{
    QFETCH(QString, mapper);
    QFETCH(bool, inPlace);
    const bool is3D = mapper.contains("3D");
    const int dim = is3D ? 3 : 2;
    for (const QMatrix4x4 &m : {generalMatrix(), projectiveMatrix()}) {
        const QTransform t = generalTransform();
        for (int n = 0; n <= 17; ++n) {
            const QByteArray where = mapper.toLatin1() + ", n = " + QByteArray::number(n);
            const std::vector<float> values = randomFloats(dim * n, unsigned(n));
            const std::vector<float> expected =
                is3D ? referenceMap3(m, values, n) : referenceMap2(t, values, n);
            GuardedFloats in(dim * n);
            in.fill(values);
            GuardedFloats outside(dim * n);
            float *out = inPlace ? in.data() : outside.data();
            if (!inPlace)
                in.makeReadOnly();

            if (mapper == "map3Df") {
                Cuboid box;
                utilTX::map3Df(out, m, in.data(), n, &box);
                QVERIFY2(sameBox(box, boxOf(expected, n)), where.constData());
            } else if (mapper == "map3DfScalar") {
                utilTX::map3DfScalar(out, m, in.data(), n);
            } else if (mapper == "map2Df") {
                utilTX::map2Df(out, t, in.data(), n);
            } else if (mapper == "map2DfScalar") {
                utilTX::map2DfScalar(out, t, in.data(), n);
            } else if (mapper == "mapBounds3Df") {
                QVERIFY2(sameBox(utilTX::mapBounds3Df(m, in.data(), n), boxOf(expected, n)),
                         where.constData());
            } else if (mapper == "mapBounds2Df") {
                utilTX::mapBounds2Df(t, in.data(), n);
            }

            QVERIFY2(in.canaryIntact() && outside.canaryIntact(), where.constData());
            if (!mapper.startsWith("mapBounds")) {
                const std::vector<float> got(out, out + dim * n);
                QVERIFY2(sameBits(got, expected), where.constData());
            } else {
                QVERIFY2(sameBits(in.values(), std::vector<float>(values.begin(), values.begin() + dim * n)),
                         where.constData());
            }
        }
    }
}

void TestUtilTX::nullArgumentsDoNothing()
{
    float buffer[6] = {1, 2, 3, 4, 5, 6};
    const QMatrix4x4 m = generalMatrix();
    Cuboid box;
    QCOMPARE(utilTX::map3Df(buffer, m, nullptr, 2, &box), buffer);
    QCOMPARE(utilTX::map3Df(nullptr, m, buffer, 2, &box), static_cast<float *>(nullptr));
    QCOMPARE(utilTX::map3DfScalar(buffer, m, buffer, 0, &box), buffer);
    QCOMPARE(utilTX::map2Df(buffer, generalTransform(), buffer, -1), buffer);
    COMPARE_EXACT(buffer[0], 1.0f);
    COMPARE_EXACT(buffer[5], 6.0f);
    QVERIFY(box.isNull());
    QVERIFY(utilTX::mapBounds3Df(m, nullptr, 4).isNull());
    QVERIFY(utilTX::mapBounds2Df(generalTransform(), nullptr, 4).isNull());
}

void TestUtilTX::mapPoint_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("moved");
    QTest::newRow("identity type keeps the point") << 0 << false;
    QTest::newRow("negative type classifies") << -1 << true;
    QTest::newRow("given type") << int(utilTX::Scale | utilTX::Rotate | utilTX::Translate) << true;
}

void TestUtilTX::mapPoint()
{
    QFETCH(int, type);
    QFETCH(bool, moved);
    const QMatrix4x4 m = generalMatrix();
    const Vector3f p(1.5f, -2.0f, 3.25f);
    Vector3f expected = p;
    if (moved) {
        const float in[3] = {p.x, p.y, p.z};
        float out[3];
        referenceMap3(m, false, in, out);
        expected = Vector3f(out[0], out[1], out[2]);
    }
    QVERIFY(utilTX::mapPoint3D(p, m, type) == expected);

    const QTransform t = generalTransform();
    const Vector2f q(0.75f, -8.5f);
    Vector2f expected2 = q;
    if (moved) {
        const std::vector<float> r = referenceMap2(t, {q.x, q.y}, 1);
        expected2 = Vector2f(r[0], r[1]);
    }
    QVERIFY(utilTX::mapPoint2D(q, t, type) == expected2);
}

QTEST_GUILESS_MAIN(TestUtilTX)
#include "tst_utiltx.moc"
