#include "geom/formats/qrnwriter.h"
#include "geom/formats/formatslog.h"

#include "crypto/qryptocipher.h"
#include "geom/core/utiltx.h"
#include "geom/core/workerthreads.h"
#include "geom/formats/qrn.h"
#include "geom/mesh/stlmesh.h"
#include "geom/mesh/strippedfacets.h"

#include <QDataStream>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace geom {

namespace {

// Rounds of the writer's key derivation (PBKDF2 with a random salt).
constexpr quint16 KeyIterations = 1365;

} // namespace

struct QrnWriter::Record : Qrn::TaskRecord
{
    using TaskRecord::TaskRecord;

    bool makeWritable() { return prepareDevice(QIODevice::WriteOnly, NotWritable); }
    bool writeVertices(const QVector<Vector3f> &meshVertices);
    bool writeStrips(const StrippedFacets &stripped, bool mirrored);
    void writeStrip(Qrn::ChunkWriter &out, const StripVertex *s, int n, int width, bool mirrored,
                    QVector<IndexedFacet> &loose);
    void writeFacet(Qrn::ChunkWriter &out, const IndexedFacet &f, int width, bool mirrored);

    QMatrix4x4 transform;
    std::atomic<quint32> done{0};
    std::atomic<quint32> total{0};
};

bool QrnWriter::Record::writeVertices(const QVector<Vector3f> &meshVertices)
{
    if (!makeWritable())
        return false;

    const QVector<Vector3f> *vertices = &meshVertices;
    QVector<Vector3f> mapped;
    if (!transform.isIdentity() && !meshVertices.isEmpty()) {
        mapped.resize(meshVertices.size());
        utilTX::map3Df(&mapped.data()->x, transform, &meshVertices.constData()->x, meshVertices.size());
        vertices = &mapped;
    }
    if (!key.isEmpty())
        header.flags |= Qrn::EncipheredFlag;

    Qrn::ChunkWriter out(stream);
    out.writeRaw(header.magic, sizeof header.magic);
    out.writeU32(header.version);
    out.writeRaw(header.text, Qrn::TextSize);
    if (key.isEmpty()) {
        // note: the number an earlier enciphered write left in the header would announce a
        // cipher block where the plain list follows.
        header.cipherNid = 0;
        out.writeU16(header.cipherNid);
        out.writeVertexList(*vertices);
        if (out.flush())
            return true;
        status = WriteFailed;
        return false;
    }

    QryptoCipher cipher(QryptoCipher::Blowfish, key, QryptoCipher::Cbc);
    cipher.setIterations(KeyIterations);
    cipher.setFlags(cipher.flags() | QryptoCipher::Salt | QryptoCipher::Iterations | QryptoCipher::Pbkdf2);
    header.cipherNid = cipher.cipher();
    header.cipherFlags = quint16(cipher.flags());
    header.digestNid = quint16(cipher.digest());
    header.iterations = cipher.iterations();
    header.salt = cipher.salt();
    Qrn::compressVertices(header, *vertices);
    // note: a run that fails to start leaves the data empty and reports size 0; that is a
    // failure too, never an empty block passed off as the vertices.
    const int size = cipher.isValid() ? cipher.encrypt(header.data) : -1;
    if (size <= 0 || size != header.data.size()) {
        qCCritical(lcQrn, "QrnWriter.writeVertices invalid cipher");
        out.flush();
        stream.setStatus(QDataStream::WriteFailed);
        status = WriteFailed;
        return false;
    }
    out.writeU16(header.cipherNid);
    out.writeU16(header.cipherFlags);
    out.writeU16(header.digestNid);
    if (header.cipherFlags & QryptoCipher::Salt)
        out.writeI64(header.salt);
    if (header.cipherFlags & QryptoCipher::Iterations)
        out.writeU16(header.iterations);
    out.writeByteArray(header.data);
    if (out.flush())
        return true;
    status = WriteFailed;
    return false;
}

void QrnWriter::Record::writeFacet(Qrn::ChunkWriter &out, const IndexedFacet &f, int width, bool mirrored)
{
    out.writeU32(quint32(f.a));
    out.writeU32(quint32(mirrored ? f.c : f.b));
    out.writeU32(quint32(mirrored ? f.b : f.c));
    out.writeAttribute(f.attribute, width);
}

// A mirrored strip must stand for the same triangles with the opposite winding. Reading a strip
// backwards does that when its length is odd. Dropping the first element shifts every remaining
// triangle by one place and so flips its winding too; an even strip loses its first triangle to
// the loose facets that way.
void QrnWriter::Record::writeStrip(Qrn::ChunkWriter &out, const StripVertex *s, int n, int width,
                                   bool mirrored, QVector<IndexedFacet> &loose)
{
    if (!mirrored) {
        out.writeU32(quint32(n));
        out.writeU32(quint32(s[0].index));
        out.writeU32(quint32(s[1].index));
        for (int k = 2; k < n; ++k) {
            out.writeU32(quint32(s[k].index));
            out.writeAttribute(s[k].attribute, width);
        }
    } else if (n % 2 == 1) {
        out.writeU32(quint32(n));
        out.writeU32(quint32(s[n - 1].index));
        out.writeU32(quint32(s[n - 2].index));
        for (int i = 2; i < n; ++i) {
            out.writeU32(quint32(s[n - 1 - i].index));
            out.writeAttribute(s[n + 1 - i].attribute, width);
        }
    } else {
        IndexedFacet first;
        first.a = s[0].index;
        first.b = s[1].index;
        first.c = s[2].index;
        first.attribute = s[2].attribute;
        loose.append(first);
        out.writeU32(quint32(n - 1));
        out.writeU32(quint32(s[1].index));
        out.writeU32(quint32(s[2].index));
        for (int k = 3; k < n; ++k) {
            out.writeU32(quint32(s[k].index));
            out.writeAttribute(s[k].attribute, width);
        }
    }
}

bool QrnWriter::Record::writeStrips(const StrippedFacets &stripped, bool mirrored)
{
    if (!makeWritable())
        return false;

    Qrn::ChunkWriter out(stream);
    out.writeU16(header.flags);
    const int width = Qrn::attributeWidth(header.flags);

    qint32 stripCount = 0;
    for (int k = 0; k < stripped.stripCount(); ++k)
        stripCount += stripped.stripLength(k) >= 3;
    out.writeU32(quint32(stripCount));
    QVector<IndexedFacet> loose;
    for (int k = 0; k < stripped.stripCount(); ++k) {
        if (!out.ok())
            break;
        const int n = stripped.stripLength(k);
        if (n < 3)
            continue;
        writeStrip(out, stripped.strip(k), n, width, mirrored, loose);
        done.fetch_add(quint32(n - 2), std::memory_order_relaxed);
    }

    out.writeU32(quint32(stripped.triangles.size() + (loose.isEmpty() ? 0 : 1)));
    for (const QVector<IndexedFacet> &group : stripped.triangles) {
        if (!out.ok())
            break;
        out.writeU32(quint32(3 * group.size()));
        for (const IndexedFacet &f : group)
            writeFacet(out, f, width, mirrored);
        done.fetch_add(quint32(group.size()), std::memory_order_relaxed);
    }
    if (!loose.isEmpty() && out.ok()) {
        out.writeU32(quint32(3 * loose.size()));
        // These facets keep the winding they had in the strip; flipping happens here.
        for (const IndexedFacet &f : loose)
            writeFacet(out, f, width, true);
    }
    if (out.flush())
        return true;
    status = WriteFailed;
    return false;
}

QrnWriter::QrnWriter(QIODevice *device)
    : QObject(device)
    , d(new Record(device))
{}

QrnWriter::~QrnWriter()
{
    Qrn::deleteRecord(d);
}

void QrnWriter::setDevice(QIODevice *device)
{
    Qrn::renewRecord(d, device);
}

void QrnWriter::setComment(const QByteArray &text)
{
    std::memset(d->header.text, 0, Qrn::TextSize);
    std::memcpy(d->header.text, text.constData(), size_t(std::min(text.size(), Qrn::TextSize)));
}

QByteArray QrnWriter::comment() const
{
    return QByteArray(d->header.text, Qrn::TextSize);
}

QrnWriter::Status QrnWriter::status() const
{
    return Status(d->status.load());
}

void QrnWriter::setTransform(const QMatrix4x4 &m)
{
    d->transform = m;
}

QMatrix4x4 QrnWriter::transform() const
{
    return d->transform;
}

void QrnWriter::setKey(const QByteArray &key)
{
    d->key = key;
}

float QrnWriter::progress() const
{
    const quint32 total = d->total.load(std::memory_order_relaxed);
    return total == 0 ? 0.0f : float(double(d->done.load(std::memory_order_relaxed)) / total);
}

QDataStream *QrnWriter::stream()
{
    return &d->stream;
}

QrnWriter::Status QrnWriter::write(const StlMesh *mesh)
{
    if (!mesh)
        return Failed;
    // The stripped form is built while the vertex block is written; the task ends before the
    // mesh can go on every path, as its destructor waits.
    StrippedFacets stripped;
    BackgroundWork stripping([mesh, &stripped] { stripped = mesh->toStrippedFacets(); });

    QMutexLocker locker(&d->mutex);
    d->status = Running;
    d->stream.resetStatus();
    d->done = 0;
    const QVector<Vector3f> &vertices = mesh->vertices();
    const qint64 facetCount = mesh->indices().size();
    d->total = quint32(vertices.size() + facetCount);

    Status result = Done;
    if (!d->writeVertices(vertices)) {
        result = Status(d->status.load());
    } else {
        d->done.fetch_add(quint32(vertices.size()));
        bool strippedReady = false;
        try {
            stripping.wait();
            strippedReady = true;
        } catch (...) {
            qCCritical(lcQrn, "QrnWriter: UnhandledException");
            result = Failed;
        }
        if (strippedReady) {
            const bool mirrored = !d->transform.isIdentity() && utilTX::isMirroring(d->transform);
            if (stripped.facetCount() != facetCount)
                result = Failed;
            else if (d->writeStrips(stripped, mirrored))
                result = Done;
            else
                result = Status(d->status.load());
        }
    }
    d->status = Idle;
    return result;
}

} // namespace geom
