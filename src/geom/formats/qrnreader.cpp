#include "geom/formats/qrnreader.h"
#include "geom/formats/formatslog.h"

#include "crypto/qryptocipher.h"
#include "geom/core/hugepages.h"
#include "geom/formats/qrn.h"
#include "geom/mesh/stlmesh.h"
#include "geom/mesh/strippedfacets.h"

#include <QDataStream>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

namespace geom {

namespace {

// Version-5 blocks: Blowfish keyed by one SHA-1 round over key and salt.
constexpr int Version5Digest = 64;
constexpr quint16 Version5Iterations = 1;

} // namespace

struct QrnReader::Record : Qrn::TaskRecord
{
    using TaskRecord::TaskRecord;

    bool makeReadable() { return prepareDevice(QIODevice::ReadOnly, NotReadable); }
    bool readVertices(Qrn::ChunkReader &in, QVector<Vector3f> &vertices);
    void readVersion5(Qrn::ChunkReader &in, QVector<Vector3f> &vertices);
    void readVersion6(Qrn::ChunkReader &in, QVector<Vector3f> &vertices);
    void readVersion7(Qrn::ChunkReader &in, QVector<Vector3f> &vertices);
    bool decipherCompressed(QryptoCipher &cipher, QByteArray &data, const quint16 *checksum,
                            QVector<Vector3f> &vertices);
    void failCipher(Qrn::ChunkReader &in);
    // Expands the strips and groups straight into the facet list, strips first, and counts in
    // droppedFacets the facets that name a vertex outside [0, vertexCount).
    bool readStrips(Qrn::ChunkReader &in, qint32 vertexCount, QVector<IndexedFacet> &facets);
    bool readEnd(Qrn::ChunkReader &in);

    // Strips and groups still to start: 0 before their section, -1 after it.
    qint32 stripsLeft = 0;
    qint32 groupsLeft = 0;
    // Facets of the last read that named a vertex outside the vertex list.
    int droppedFacets = 0;
    // Whether the vertex block of the last file read is enciphered.
    bool enciphered = false;
};

namespace {

// Appends the facet with the reader's range check: a facet naming a vertex outside the list is
// kept (the mesh leaves it out when it is built) and counted.
inline void appendFacet(QVector<IndexedFacet> &facets, const IndexedFacet &f, qint32 vertexCount,
                        int &outside)
{
    const auto beyond = [vertexCount](qint32 i) { return i < 0 || i >= vertexCount; };
    outside += beyond(f.a) || beyond(f.b) || beyond(f.c);
    facets.append(f);
}

} // namespace

void QrnReader::Record::failCipher(Qrn::ChunkReader &in)
{
    qCCritical(lcQrn, "QrnReader.readVertices invalid cipher");
    in.setCorrupt();
}

bool QrnReader::Record::decipherCompressed(QryptoCipher &cipher, QByteArray &data, const quint16 *checksum,
                                           QVector<Vector3f> &vertices)
{
    if (!cipher.isValid() || cipher.decrypt(data) <= 0)
        return false;
    if (checksum && qChecksum(data.constData(), uint(data.size())) != *checksum)
        return false;
    return Qrn::parseVertexList(Qrn::uncompress(data), vertices);
}

void QrnReader::Record::readVersion5(Qrn::ChunkReader &in, QVector<Vector3f> &vertices)
{
    header.flags = in.readU8();
    enciphered = header.flags & Qrn::EncipheredFlag;
    if (!enciphered) {
        in.readVertexList(vertices);
        return;
    }
    Qrn::VersionFiveBlock block;
    block.vertexCount = in.readCount();
    if (!in.ok())
        return;
    if (block.vertexCount != 0) {
        block.salt = in.readI64();
        in.readRaw(block.data, qint64(block.vertexCount) * 12 + 8);
    }
    if (!in.ok() || block.vertexCount == 0)
        return;
    QryptoCipher cipher(QryptoCipher::Blowfish, key, QryptoCipher::Cbc);
    cipher.setDigest(Version5Digest);
    cipher.setIterations(Version5Iterations);
    cipher.setSalt(block.salt);
    const int size = cipher.isValid() ? cipher.decrypt(block.data) : -1;
    if (size > 0 && size == block.data.size() && qint64(size) >= qint64(block.vertexCount) * 12)
        vertices = Qrn::readVersionFiveBlock(block);
    else
        failCipher(in);
}

void QrnReader::Record::readVersion6(Qrn::ChunkReader &in, QVector<Vector3f> &vertices)
{
    const quint32 flags = in.readU32();
    header.flags = quint16(flags & 7);
    enciphered = flags & Qrn::EncipheredFlag;
    if (!enciphered) {
        in.readVertexList(vertices);
        return;
    }
    Qrn::EncryptedVertices block;
    block.data = in.readByteArray();
    block.checksum = in.readU16();
    block.digestNid = qint16(in.readU16());
    block.iterations = in.readI32();
    block.salt = in.readI64();
    if (!in.ok())
        return;
    QryptoCipher cipher(QryptoCipher::Blowfish, key, QryptoCipher::Cbc);
    cipher.setDigest(block.digestNid);
    cipher.setSalt(block.salt);
    cipher.setIterations(quint16(block.iterations));
    if (!decipherCompressed(cipher, block.data, &block.checksum, vertices)) {
        failCipher(in);
        status = CorruptedData;
    }
}

void QrnReader::Record::readVersion7(Qrn::ChunkReader &in, QVector<Vector3f> &vertices)
{
    header.cipherNid = in.readU16();
    enciphered = in.ok() && header.cipherNid != 0;
    if (enciphered) {
        header.cipherFlags = in.readU16();
        header.digestNid = in.readU16();
        if (header.cipherFlags & QryptoCipher::Salt)
            header.salt = in.readI64();
        if (header.cipherFlags & QryptoCipher::Iterations)
            header.iterations = in.readU16();
        header.data = in.readByteArray();
    }
    if (header.cipherNid == 0 || !in.ok()) {
        in.readVertexList(vertices);
        return;
    }
    QryptoCipher cipher(QryptoCipher::Type(0), key, QryptoCipher::Cbc);
    cipher.setFlags(QryptoCipher::Flags(header.cipherFlags));
    cipher.setCipher(header.cipherNid);
    cipher.setDigest(header.digestNid);
    if (header.cipherFlags & QryptoCipher::Salt)
        cipher.setSalt(header.salt);
    if (header.cipherFlags & QryptoCipher::Iterations)
        cipher.setIterations(header.iterations);
    if (!decipherCompressed(cipher, header.data, nullptr, vertices)) {
        failCipher(in);
        status = CorruptedData;
    }
}

bool QrnReader::Record::readVertices(Qrn::ChunkReader &in, QVector<Vector3f> &vertices)
{
    if (!makeReadable())
        return false;

    QByteArray magic;
    in.readRaw(magic, 4);
    if (magic.size() < 4 || std::memcmp(magic.constData(), "QRNK", 4) != 0) {
        status = IncorrectFormat;
        return false;
    }
    std::memcpy(header.magic, magic.constData(), 4);
    const quint32 version = in.readU32();
    if (!in.ok()) {
        status = IncorrectFormat;
        return false;
    }
    header.version = version;
    if (version > Qrn::CurrentVersion) {
        status = IncorrectFormat;
        return false;
    }
    QByteArray text;
    in.readRaw(text, Qrn::TextSize);
    if (text.size() < Qrn::TextSize) {
        status = IncorrectFormat;
        return false;
    }
    std::memcpy(header.text, text.constData(), Qrn::TextSize);

    switch (version) {
    case 5:
        readVersion5(in, vertices);
        break;
    case 6:
        readVersion6(in, vertices);
        break;
    case 7:
        readVersion7(in, vertices);
        break;
    default:
        header.flags = 0;
        in.readVertexList(vertices);
        break;
    }
    if (in.ok())
        return true;
    if (status < NotReadable)
        status = IncorrectFormat;
    return false;
}

bool QrnReader::Record::readStrips(Qrn::ChunkReader &in, qint32 vertexCount, QVector<IndexedFacet> &facets)
{
    if (!makeReadable())
        return false;
    if (header.version > 6)
        header.flags = in.readU16();
    const int width = Qrn::attributeWidth(header.flags);

    // note: a damaged read fails as a whole, so the facets of a strip or group cut short need not
    // be taken back; the list grows with the data that arrived, never with a count alone.
    // note: a closed surface has about twice as many facets as vertices; the vertex list was read
    // in full, so room for that many facets is bounded by data that arrived, and spares the list
    // its copies while it grows.
    facets.reserve(int(std::min<qint64>(qint64(vertexCount) * 2 + 16, std::numeric_limits<int>::max() / 2)));
    adviseHugePages(facets);
    stripsLeft = in.readCount();
    while (in.ok() && stripsLeft-- != 0) {
        const qint32 length = in.readCount();
        if (!in.ok())
            break;
        qint32 p = in.readI32();
        qint32 q = in.readI32();
        // Element k (k >= 2) closes (p, q, s[k]); the older of p and q gives way to it.
        for (qint32 k = 2; k < length && in.ok(); ++k) {
            IndexedFacet f;
            f.a = p;
            f.b = q;
            f.c = in.readI32();
            f.attribute = in.readAttribute(width);
            if (!in.ok())
                break;
            appendFacet(facets, f, vertexCount, droppedFacets);
            advanceStrip(p, q, k, f.c);
        }
    }
    if (in.ok())
        groupsLeft = in.readCount();
    while (in.ok() && groupsLeft-- != 0) {
        const quint32 facetCount = in.readU32() / 3;
        for (quint32 i = 0; i < facetCount && in.ok(); ++i) {
            IndexedFacet f;
            f.a = in.readI32();
            f.b = in.readI32();
            f.c = in.readI32();
            f.attribute = in.readAttribute(width);
            if (in.ok())
                appendFacet(facets, f, vertexCount, droppedFacets);
        }
    }
    if (in.ok())
        return true;
    status = IncorrectFormat;
    return false;
}

bool QrnReader::Record::readEnd(Qrn::ChunkReader &in)
{
    // note: zlib checks a gzip stream's CRC and length only when it is read to its end, and
    // delivers the content of a stream cut short without complaint; so the last group is not
    // the end of the file until the device says so. Content behind it (two files joined) is
    // not part of this mesh either.
    if (in.atCleanEnd())
        return true;
    status = CorruptedData;
    return false;
}

QrnReader::QrnReader(QIODevice *device)
    : d(new Record(device))
{}

QrnReader::~QrnReader()
{
    Qrn::deleteRecord(d);
}

void QrnReader::setDevice(QIODevice *device)
{
    Qrn::renewRecord(d, device);
}

QByteArray QrnReader::comment() const
{
    return QByteArray(d->header.text, Qrn::TextSize);
}

QrnReader::Status QrnReader::status() const
{
    return Status(d->status.load());
}

int QrnReader::version() const
{
    return int(d->header.version);
}

void QrnReader::setKey(const QByteArray &key)
{
    d->key = key;
}

int QrnReader::droppedFacetCount() const
{
    return d->droppedFacets;
}

bool QrnReader::enciphered() const
{
    return d->enciphered;
}

QDataStream *QrnReader::stream()
{
    return &d->stream;
}

QrnReader::Status QrnReader::read(StlMesh *mesh)
{
    QMutexLocker locker(&d->mutex);
    d->status = Running;
    d->stream.resetStatus();
    d->stripsLeft = 0;
    d->groupsLeft = 0;
    d->droppedFacets = 0;
    d->enciphered = false;
    try {
        QVector<Vector3f> vertices;
        QVector<IndexedFacet> facets;
        Qrn::ChunkReader in(d->stream);
        if (d->readVertices(in, vertices) && d->readStrips(in, vertices.size(), facets) && d->readEnd(in)) {
            if (mesh)
                mesh->fromStrippedFacets(std::move(vertices), std::move(facets));
            d->status = Done;
        } else if (in.deviceFailed()) {
            // note: whatever the content looked like where it stopped, the container said that
            // its data is damaged; a small file's content may not have come out at all.
            d->status = CorruptedData;
        }
    } catch (const std::bad_alloc &) {
        if (mesh)
            mesh->clear();
        d->status = OutOfMemory;
        qCCritical(lcQrn, "QrnReader: OOM StripsCount(%d) FacetsCount(%d)", d->stripsLeft, d->groupsLeft);
    }
    const Status result = Status(d->status.load());
    if (result != Done)
        d->droppedFacets = 0;
    d->status = Idle;
    return result;
}

} // namespace geom
