#include "geom/formats/stlwriter.h"
#include "geom/formats/formatslog.h"
#include "geom/formats/stlwriter_p.h"

#include "geom/core/hugepages.h"
#include "geom/core/utiltx.h"
#include "geom/core/workerthreads.h"
#include "geom/mesh/stlmesh.h"
#include "platform/processors.h"

#include <QFileDevice>
#include <QIODevice>
#include <QMatrix3x3>
#include <QtDebug>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace geom {

namespace {

const qint64 headerSize = 80;
const qint64 dataOffset = 84; // header and the 32-bit facet count
const int recordSize = 50;
// note: records are assembled in blocks of this many and handed to the device in one call; the
// per-record device calls cost more than the disk at this size.
const quint32 recordsPerBlock = 8192;
// Blocks formed at once when the mesh is written: one per core, up to this many.
const unsigned maxLanes = 8;

inline char *putFloat(char *out, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian(bits, out);
    return out + 4;
}

inline char *putVector(char *out, const Vector3f &v)
{
    out = putFloat(out, v.x);
    out = putFloat(out, v.y);
    return putFloat(out, v.z);
}

// One 50-byte record: normal, three vertices, attribute word, all little-endian.
inline void putRecord(char *out, const Vector3f &normal, const Vector3f &a, const Vector3f &b,
                      const Vector3f &c, quint16 attribute)
{
    out = putVector(out, normal);
    out = putVector(out, a);
    out = putVector(out, b);
    out = putVector(out, c);
    qToLittleEndian(attribute, out);
}

// The unit normal of the facet (a, b, c); a facet without area gets the zero vector instead of
// the non-finite quotient.
inline Vector3f recordNormal(const Vector3f &a, const Vector3f &b, const Vector3f &c)
{
    const Facet facet(a, b, c);
    const Vector3f &n = facet.normal;
    if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z))
        return n;
    return facet.area() == 0.0 ? Vector3f() : n;
}

} // namespace

StlWriterPrivate::StlWriterPrivate(QIODevice *device)
    : stream(device)
    , header(int(headerSize), ' ')
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

bool StlWriterPrivate::begin(quint32 n)
{
    QIODevice *device = stream.device();
    if (!device)
        return false;
    if (!device->isWritable() && !device->open(QIODevice::WriteOnly))
        return false;
    if (device->isSequential())
        return false;
    const qint64 position = device->pos();
    done.store(0, std::memory_order_relaxed);
    total.store(n, std::memory_order_relaxed);
    if (position < dataOffset) {
        if (position == 0 || device->seek(0)) {
            if (device->write(header.constData(), headerSize) > 0) {
                facetCount = 0;
                stream << quint32(0);
            }
        }
    }
    return device->pos() >= dataOffset && stream.status() == QDataStream::Ok;
}

quint32 StlWriterPrivate::writeRecords(const char *records, quint32 count)
{
    if (count == 0)
        return 0;
    const qint64 wanted = qint64(count) * recordSize;
    qint64 written = 0;
    // note: a file whose disk fills up takes the start of a large block and reports no error;
    // asked for the rest, it is refused and keeps the system's reason for the caller to give.
    while (stream.status() == QDataStream::Ok && written < wanted) {
        const qint64 part = stream.device()->write(records + written, wanted - written);
        if (part <= 0)
            break;
        written += part;
    }
    if (written != wanted) {
        noteFailure();
        stream.setStatus(QDataStream::WriteFailed);
    }
    const quint32 whole = written > 0 ? quint32(written / recordSize) : 0;
    if (whole > 0) {
        facetCount += whole;
        finished = false;
    }
    return whole;
}

quint32 StlWriterPrivate::finish(bool *completed)
{
    bool ok = false;
    QIODevice *device = stream.device();
    if (device && device->isWritable() && device->seek(headerSize)) {
        char count[4];
        qToLittleEndian(facetCount, count);
        const bool patched = device->write(count, sizeof count) == qint64(sizeof count);
        const bool atEnd = device->seek(device->size());
        QFileDevice *file = qobject_cast<QFileDevice *>(device);
        const bool flushed = !file || file->flush();
        // Kept before the close, which clears the file's error when its own flush succeeds.
        if (!(patched && atEnd && flushed))
            noteFailure();
        device->close();
        const bool closed = !file || file->error() == QFileDevice::NoError;
        if (!closed)
            noteFailure();
        ok = patched && atEnd && flushed && closed;
        finished = true;
    } else {
        noteFailure();
    }
    if (completed)
        *completed = ok;
    return facetCount;
}

void StlWriterPrivate::noteFailure()
{
    const auto *file = qobject_cast<const QFileDevice *>(stream.device());
    if (failure.isEmpty() && file && file->error() != QFileDevice::NoError)
        failure = file->errorString();
}

int StlWriterPrivate::writeFacets(quint32 n, const Facet *facets, const quint16 *attributes,
                                  bool useAttributes, quint32 announced)
{
    if (!begin(announced))
        return -1;
    const bool identity = transform.isIdentity();
    const bool mirror = !identity && utilTX::isMirroring(transform);
    const QMatrix3x3 normalMatrix = transform.normalMatrix();

    std::vector<char> block(std::size_t(std::min(n, recordsPerBlock)) * recordSize);
    std::vector<Vector3f> corners;
    for (quint32 first = 0; first < n; first += recordsPerBlock) {
        const quint32 count = std::min(recordsPerBlock, n - first);
        const Facet *f = facets + first;
        if (!identity) {
            corners.resize(std::size_t(count) * 3);
            for (quint32 i = 0; i < count; ++i)
                std::copy(f[i].vertex, f[i].vertex + 3, &corners[3 * i]);
            utilTX::map3Df(&corners[0].x, transform, &corners[0].x, int(count * 3));
        }
        for (quint32 i = 0; i < count; ++i) {
            const quint16 word = useAttributes && attributes ? attributes[first + i] : attribute;
            char *record = &block[std::size_t(i) * recordSize];
            if (identity) {
                putRecord(record, f[i].normal, f[i].vertex[0], f[i].vertex[1], f[i].vertex[2], word);
                continue;
            }
            // note: a normal is a covector; it follows the inverse transpose of the linear part,
            // which also keeps it pointing outwards when the transform mirrors.
            const float *m = normalMatrix.constData();
            const Vector3f &s = f[i].normal;
            const Vector3f normal = withLength(Vector3f(m[0] * s.x + m[3] * s.y + m[6] * s.z,
                                                        m[1] * s.x + m[4] * s.y + m[7] * s.z,
                                                        m[2] * s.x + m[5] * s.y + m[8] * s.z),
                                               1.0);
            const Vector3f *v = &corners[3 * std::size_t(i)];
            if (mirror)
                putRecord(record, normal, v[0], v[2], v[1], word);
            else
                putRecord(record, normal, v[0], v[1], v[2], word);
        }
        const quint32 written = writeRecords(block.data(), count);
        done.fetch_add(written, std::memory_order_relaxed);
        if (written < count)
            break;
    }
    return int(done.load(std::memory_order_relaxed));
}

StlWriter::StlWriter(QIODevice *device)
    : d(new StlWriterPrivate(device))
{
    if (device && device->pos() != 0)
        qCWarning(lcStl).noquote()
            << QStringLiteral("StlWriter is given a used QIODevice, position %1").arg(device->pos());
}

StlWriter::~StlWriter()
{
    if (d->facetCount != 0 && !d->finished)
        d->finish();
    delete d;
}

void StlWriter::setHeader(const QByteArray &header)
{
    d->header = header.leftJustified(int(headerSize), ' ', true);
}

QByteArray StlWriter::header() const
{
    return d->header;
}

QIODevice *StlWriter::device() const
{
    return d->stream.device();
}

void StlWriter::setAttribute(quint16 attribute)
{
    d->attribute = attribute;
}

quint16 StlWriter::attribute() const
{
    return d->attribute;
}

void StlWriter::setTransform(const QMatrix4x4 &transform)
{
    d->transform = transform;
}

QMatrix4x4 StlWriter::transform() const
{
    return d->transform;
}

float StlWriter::progress() const
{
    const quint32 total = d->total.load(std::memory_order_relaxed);
    return total == 0 ? 0.0f : float(d->done.load(std::memory_order_relaxed)) / float(total);
}

int StlWriter::write(const StlMesh &mesh)
{
    const QVector<Vector3f> &vertices = mesh.vertices();
    const QVector<IndexedFacet> &indices = mesh.indices();
    const quint32 n = quint32(indices.size());
    if (!d->begin(n))
        return -1;

    const Vector3f *v = vertices.constData();
    const bool identity = d->transform.isIdentity();
    std::vector<Vector3f> mapped;
    if (!identity && !vertices.isEmpty()) {
        mapped.resize(std::size_t(vertices.size()));
        utilTX::map3Df(&mapped[0].x, d->transform, &vertices.constData()->x, vertices.size());
        v = mapped.data();
    }
    // note: a mirrored model written in stored order would come out inside out; exchanging the
    // second and third vertex restores the outward winding, and the normal follows that order.
    const bool mirror = !identity && utilTX::isMirroring(d->transform);

    // note: forming the records (a square root and three divisions per normal) costs more than
    // the disk takes to store them, so the blocks of a round are formed by a team of threads in
    // parallel and then written in order by this thread.
    const unsigned wanted = n > recordsPerBlock ? std::min(platform::usableProcessors(), maxLanes) : 1u;
    WorkerTeam team(wanted);
    const quint32 perRound = recordsPerBlock * team.lanes();
    // note: every byte of a round is formed before it is written, so the buffer is not cleared.
    const std::size_t bufferSize = std::size_t(std::min(n, perRound)) * recordSize;
    std::unique_ptr<char[]> buffer(new char[bufferSize]);
    adviseHugePages(buffer.get(), bufferSize);
    const IndexedFacet *facets = indices.constData();
    for (quint32 first = 0; first < n; first += perRound) {
        const quint32 count = std::min(perRound, n - first);
        auto form = [&](quint32 block) {
            const quint32 begin = block * recordsPerBlock;
            const quint32 end = std::min(count, begin + recordsPerBlock);
            for (quint32 i = begin; i < end; ++i) {
                const IndexedFacet &f = facets[first + i];
                const Vector3f &a = v[f.a];
                const Vector3f &b = mirror ? v[f.c] : v[f.b];
                const Vector3f &c = mirror ? v[f.b] : v[f.c];
                putRecord(&buffer[std::size_t(i) * recordSize], recordNormal(a, b, c), a, b, c,
                          quint16(f.attribute));
            }
        };
        team.run((count + recordsPerBlock - 1) / recordsPerBlock, form);
        const quint32 written = d->writeRecords(buffer.get(), count);
        d->done.fetch_add(written, std::memory_order_relaxed);
        if (written < count)
            break;
    }
    return int(d->done.load(std::memory_order_relaxed));
}

int StlWriter::write(StlMesh *mesh)
{
    return mesh ? write(*mesh) : -1;
}

bool StlWriter::write(const Facet &facet, int attribute)
{
    const quint16 word = attribute >= 0 ? quint16(attribute) : d->attribute;
    // note: a single record announces no total, so progress() stays 0 for it.
    return d->writeFacets(1, &facet, &word, true, 0) == 1;
}

int StlWriter::write(const QList<Facet> &facets)
{
    const QVector<Facet> records(facets.begin(), facets.end());
    return d->writeFacets(quint32(records.size()), records.constData(), nullptr, false,
                          quint32(records.size()));
}

int StlWriter::write(const QVector<Facet> &facets)
{
    return write(facets.size(), facets.constData(), nullptr);
}

int StlWriter::write(int n, const Facet *facets, const quint16 *attributes)
{
    if (!facets)
        return 0;
    const quint32 count = quint32(std::max(n, 0));
    return d->writeFacets(count, facets, attributes, attributes != nullptr, count);
}

QString StlWriter::errorString() const
{
    return d->failure;
}

bool StlWriter::finish()
{
    bool completed = false;
    d->finish(&completed);
    return completed;
}

} // namespace geom
