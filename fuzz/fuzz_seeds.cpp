// Writes the seed corpus of every fuzz target from the tests' own small fixtures: the mesh
// builders of tests/common, the STL images of the STL tests, our writers' output of them, and
// the compressed files of the independent fixture script when their folder is given.
//
// Usage: fuzz_seeds OUTDIR [QRN_FIXTURE_DIR]
// Writes OUTDIR/<target>/<name> for the targets fuzz_stl (whose seeds fuzz_stl_large shares),
// fuzz_ply_mesh, fuzz_ply_stream, fuzz_qrn_plain, fuzz_qrn_gzip, fuzz_qrn_sealed,
// fuzz_cipher_stream, fuzz_value_streams and fuzz_slice_streams.

#include "fuzzsupport.h"

#include "crypto/qryptocipher.h"
#include "geom/core/vector2d.h"
#include "geom/core/vector2f.h"
#include "geom/core/vector3f.h"
#include "geom/formats/plystream.h"
#include "geom/formats/qrnwriter.h"
#include "geom/mesh/stlmesh.h"
#include "geom/slicing/contour.h"
#include "geom/slicing/slice.h"
#include "geom/slicing/slicestack.h"
#include "io/gzipfile.h"
#include "meshbuilders.h"
#include "stltestdata.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QTransform>
#include <QtEndian>

#include <cstdio>
#include <memory>

using geom::Facet;
using geom::PlyStream;
using quarnfuzz::SeedKey;

namespace {

struct Shape
{
    const char *name;
    QVector<Facet> facets;
    QVector<quint16> attributes;
};

QVector<Shape> shapes()
{
    return {
        {"tetrahedron", meshtest::tetrahedron(), {}},
        {"cube-attributes", meshtest::unitCube(), {0, 1, 0x7FFF, 0xFFFF, 5}},
        {"strip", meshtest::openStrip(4), {}},
        {"degenerate", meshtest::degenerateFacets(), {}},
        {"fan", meshtest::nonManifoldFan(), {3, 3, 9}},
        {"repeated", meshtest::repeatedCube(), {}},
    };
}

class Writer
{
public:
    explicit Writer(const QString &root)
        : m_root(root)
    {}

    void put(const char *target, const QString &name, const QByteArray &bytes)
    {
        const QString dir = m_root + QLatin1Char('/') + QLatin1String(target);
        QDir().mkpath(dir);
        QFile file(dir + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(file.fileName()));
            m_failed = true;
        }
    }
    QString path(const char *target, const QString &name) const
    {
        const QString dir = m_root + QLatin1Char('/') + QLatin1String(target);
        QDir().mkpath(dir);
        return dir + QLatin1Char('/') + name;
    }
    bool failed() const { return m_failed; }

private:
    QString m_root;
    bool m_failed = false;
};

void stlSeeds(Writer &out)
{
    for (const Shape &s : shapes()) {
        const QString name = QLatin1String(s.name);
        out.put("fuzz_stl", name + ".bin.stl",
                stltest::binaryStl(s.facets, s.attributes, "seed " + name.toLatin1()));
        out.put("fuzz_stl", name + ".ascii.stl", stltest::asciiStl(s.facets, s.name));
    }
    const QVector<Facet> tetra = meshtest::tetrahedron();
    out.put("fuzz_stl", "crlf.ascii.stl", stltest::asciiStl(tetra, "crlf", "\r\n"));
    out.put("fuzz_stl", "no-end.ascii.stl", stltest::asciiStl(tetra, "open", "\n", QByteArray()));
    out.put("fuzz_stl", "two-solids.ascii.stl",
            stltest::asciiStl(tetra, "a") + stltest::asciiStl(meshtest::unitCube(), "b") + "\n\n");
    out.put("fuzz_stl", "count-too-large.bin.stl", stltest::binaryStl(tetra, {}, "long", 40));
    out.put("fuzz_stl", "binary-starting-solid.bin.stl", stltest::binaryStl(tetra, {}, "solid binary"));
}

QByteArray plyBytes(const geom::StlMesh &mesh, PlyStream::Format format, const QByteArray &comment)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    PlyStream stream(&buffer);
    stream.setFormat(PlyStream::FormatSpec(format, "1.0"));
    stream.setComment(comment, true);
    return stream.saveMesh(&mesh) ? bytes : QByteArray();
}

void plySeeds(Writer &out)
{
    const struct
    {
        PlyStream::Format format;
        const char *suffix;
    } formats[] = {{PlyStream::Ascii, "ascii"},
                   {PlyStream::BinaryLittleEndian, "le"},
                   {PlyStream::BinaryBigEndian, "be"}};
    for (const Shape &s : shapes()) {
        const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(s.facets, s.attributes));
        for (const auto &f : formats) {
            const QByteArray bytes = plyBytes(*mesh, f.format, QByteArray("seed ") + s.name);
            const QString name =
                QStringLiteral("%1.%2.ply").arg(QLatin1String(s.name), QLatin1String(f.suffix));
            out.put("fuzz_ply_mesh", name, bytes);
            out.put("fuzz_ply_stream", name, bytes);
        }
    }
    // Polygons, a foreign element, extra properties and the long type names.
    const QByteArray polygons = "ply\nformat ascii 1.0\ncomment polygons\nelement vertex 6\n"
                                "property float32 x\nproperty float32 y\nproperty float32 z\n"
                                "property uchar red\nelement edge 1\nproperty int32 a\nproperty int32 b\n"
                                "element face 3\nproperty list uint8 int32 vertex_index\n"
                                "property uint16 attribute\nend_header\n"
                                "0 0 0 1\n1 0 0 2\n1 1 0 3\n0 1 0 4\n0 0 1 5\n1 0 1 6\n0 1\n"
                                "4 0 1 2 3 7\n5 0 1 2 3 4 8\n2 0 1 9\n";
    out.put("fuzz_ply_mesh", "polygons.ascii.ply", polygons);
    out.put("fuzz_ply_stream", "polygons.ascii.ply", polygons);
}

QByteArray qrnBytes(const geom::StlMesh &mesh, const QByteArray &key)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    {
        geom::QrnWriter writer(&buffer);
        writer.setKey(key);
        writer.setComment("seed");
        if (writer.write(&mesh) != geom::QrnWriter::Done)
            return QByteArray();
    }
    return bytes;
}

void qrnSeeds(Writer &out, const QString &fixtureDir)
{
    for (const Shape &s : shapes()) {
        const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(s.facets, s.attributes));
        for (const QByteArray &key : {QByteArray(), SeedKey}) {
            const QString name = QStringLiteral("%1%2.qrn")
                                     .arg(QLatin1String(s.name), QLatin1String(key.isEmpty() ? "" : ".key"));
            out.put("fuzz_qrn_plain", name, qrnBytes(*mesh, key));
            GZipFile file(out.path("fuzz_qrn_gzip", name));
            geom::QrnWriter writer(&file);
            writer.setKey(key);
            writer.write(mesh.get());
        }
    }
    // The sealed target takes a block's plain content and the strips: both cut from a plain
    // version-7 file (magic, version, text, cipher number 0, then the vertex list and the strips).
    for (const Shape &s : shapes()) {
        const std::unique_ptr<geom::StlMesh> mesh(meshtest::meshFrom(s.facets, s.attributes));
        const QByteArray file = qrnBytes(*mesh, QByteArray());
        const int listAt = 4 + 4 + 80 + 2;
        if (file.size() < listAt + 4)
            continue;
        const int count = qFromLittleEndian<qint32>(file.constData() + listAt);
        const int stripsAt = listAt + 4 + 12 * count;
        const QByteArray content = qCompress(file.mid(listAt, stripsAt - listAt));
        QByteArray seed(2, '\0');
        qToLittleEndian<quint16>(quint16(content.size()), seed.data());
        out.put("fuzz_qrn_sealed", QLatin1String(s.name), seed + content + file.mid(stripsAt));
    }
    if (fixtureDir.isEmpty())
        return;
    // The independent script's files of every version: as they are, and their content unwrapped.
    const QStringList files = QDir(fixtureDir).entryList({QStringLiteral("*.qrn")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile raw(fixtureDir + QLatin1Char('/') + name);
        if (raw.open(QIODevice::ReadOnly))
            out.put("fuzz_qrn_gzip", QStringLiteral("fixture-") + name, raw.readAll());
        GZipFile file(fixtureDir + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            out.put("fuzz_qrn_plain", QStringLiteral("fixture-") + name, file.readAll());
    }
}

void cipherSeeds(Writer &out)
{
    const QByteArray payload =
        QByteArrayLiteral("QRNK vertices of a seed, longer than one block of any cipher");
    const struct
    {
        QryptoCipher::Type type;
        QryptoCipher::Mode mode;
        QryptoCipher::Flags flags;
        int digest;
    } settings[] = {
        {QryptoCipher::Blowfish, QryptoCipher::Cbc, QryptoCipher::Salt | QryptoCipher::Pbkdf2, 64},
        {QryptoCipher::Blowfish, QryptoCipher::Cbc, QryptoCipher::Iterations | QryptoCipher::Pbkdf2, 64},
        {QryptoCipher::Aes256, QryptoCipher::Cbc, QryptoCipher::Salt | QryptoCipher::Iterations, 672},
        {QryptoCipher::Aes128, QryptoCipher::Ofb, QryptoCipher::Flags(), 64},
        {QryptoCipher::Camellia128, QryptoCipher::Ecb, QryptoCipher::Salt, 64},
        {QryptoCipher::Des, QryptoCipher::Cfb, QryptoCipher::Pbkdf2, 672},
    };
    int n = 0;
    for (const auto &s : settings) {
        QryptoCipher cipher(s.type, SeedKey, s.mode);
        cipher.setFlags(s.flags);
        cipher.setDigest(s.digest);
        if (s.flags & QryptoCipher::Iterations)
            cipher.setIterations(3);
        QByteArray bytes;
        {
            QDataStream stream(&bytes, QIODevice::WriteOnly);
            stream << cipher;
        }
        bytes += cipher.encrypt(payload);
        out.put("fuzz_cipher_stream", QStringLiteral("cipher-%1").arg(++n), bytes);
    }
    out.put("fuzz_cipher_stream", QStringLiteral("no-cipher"), QByteArray(2, '\0'));
}

template <typename V>
QByteArray arraySeed(char choice, bool bigEndian, const QVector<V> &values)
{
    QByteArray bytes(1, char(choice | (bigEndian ? 0x80 : 0)));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    QDataStream stream(&buffer);
    stream.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    if constexpr (std::is_same_v<V, geom::Vector3f>)
        geom::writeVector3fArray(stream, values.constData(), values.size());
    else if constexpr (std::is_same_v<V, geom::Vector2f>)
        geom::writeVector2fArray(stream, values.constData(), values.size());
    else
        geom::writeVector2dArray(stream, values.constData(), values.size());
    return buffer.data();
}

void valueSeeds(Writer &out)
{
    const QVector<geom::Vector3f> v3 = {{0, 0, 0}, {1, -2, 3.5f}, {1e30f, -1e-30f, 7}};
    const QVector<geom::Vector2f> v2 = {{0, 0}, {1, -2}, {3.25f, 1e-20f}};
    const QVector<geom::Vector2d> vd = {{0, 0}, {1, -2}, {1e300, -1e-300}};
    for (bool big : {false, true}) {
        const QString order = QLatin1String(big ? "be" : "le");
        out.put("fuzz_value_streams", "v3f." + order, arraySeed(0, big, v3));
        out.put("fuzz_value_streams", "v2f." + order, arraySeed(1, big, v2));
        out.put("fuzz_value_streams", "v2d." + order, arraySeed(2, big, vd));
    }
    QString text3, text2;
    {
        QTextStream t(&text3);
        for (const geom::Vector3f &v : v3)
            t << v << '\n';
        QTextStream u(&text2);
        for (const geom::Vector2f &v : v2)
            u << v << ' ';
    }
    out.put("fuzz_value_streams", "v3f.text", '\3' + text3.toLatin1());
    out.put("fuzz_value_streams", "v2f.text", '\4' + text2.toLatin1());
    out.put("fuzz_value_streams", "v2d.text", QByteArray("\5") + "1e300,-2.5 0x1p3;nan inf,-inf");
}

// One record of each planar stream type behind its selector byte (bit 7: big-endian).
template <typename T>
QByteArray streamSeed(char choice, bool bigEndian, const T &value)
{
    QByteArray bytes(1, char(choice | (bigEndian ? 0x80 : 0)));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    QDataStream stream(&buffer);
    stream.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    stream << value;
    return buffer.data();
}

void sliceSeeds(Writer &out)
{
    const QVector<geom::Vector2f> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const QVector<geom::Vector2f> hole{{2, 2}, {2, 8}, {8, 8}, {8, 2}};
    geom::Contour outer(square);
    outer.children().append(geom::Contour(hole));
    outer.children()[0].children().append(
        geom::Contour(geom::Vector2f(4, 4), geom::Vector2f(6, 4), geom::Vector2f(5, 6)));

    geom::Slice slice(1.5f, 0.25f);
    slice.contours() << outer << geom::Contour(square) << geom::Contour(hole);
    geom::SliceStack stack;
    stack.insert(slice);
    stack.insert(geom::Slice(slice, QTransform::fromTranslate(1, 1), false));
    geom::Slice top(4.0f, 0.5f);
    top.contours() << geom::Contour(square);
    stack.insert(top);

    for (bool big : {false, true}) {
        const QString order = QLatin1String(big ? "be" : "le");
        out.put("fuzz_slice_streams", "contour." + order, streamSeed(0, big, outer));
        out.put("fuzz_slice_streams", "slice." + order, streamSeed(1, big, slice));
        out.put("fuzz_slice_streams", "stack." + order, streamSeed(2, big, stack));
    }
}

// The mesh builders and writers warn about the odd fixtures on purpose; only failures are shown.
void failuresOnly(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "fuzz_seeds: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(failuresOnly);
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR [QRN_FIXTURE_DIR]\n");
        return 2;
    }
    Writer out(args.at(1));
    stlSeeds(out);
    plySeeds(out);
    qrnSeeds(out, args.value(2));
    cipherSeeds(out);
    valueSeeds(out);
    sliceSeeds(out);
    return out.failed() ? 1 : 0;
}
