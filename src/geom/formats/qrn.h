#pragma once

#include "geom/core/vector3f.h"

#include <QByteArray>
#include <QDataStream>
#include <QMutex>
#include <QVector>
#include <QtGlobal>

#include <atomic>

// The common code of the compressed mesh file (".qrn"): a gzip stream holding the magic "QRNK",
// a version (0 to 7 read, 7 written), an 80-byte text, a vertex block whose layout depends on the
// version, then triangle strips and groups of loose facets. Every value is little-endian; floats
// are IEEE single precision.
namespace geom {
namespace Qrn {

// The file name extension of the format, without the point.
constexpr char Extension[] = "qrn";
// The highest version read, and the one written.
constexpr quint32 CurrentVersion = 7;
// Size of the free text behind magic and version.
constexpr int TextSize = 80;
// Bit of a flags word that marks the vertex block as enciphered.
constexpr quint32 EncipheredFlag = 0x10;
// The attribute-width code every written file uses: 16-bit STL attribute words.
constexpr quint16 DefaultFlags = 1;

// The fixed header of every version: magic, version and the free text.
struct FixedHeader
{
    char magic[4] = {0, 0, 0, 0};
    quint32 version = 0;
    char text[TextSize] = {};
};

// The header of a version-7 file as the writer and reader hold it: the fixed part, the cipher's
// settings of an enciphered vertex block with its data, and the strip section's flags word.
struct Header : FixedHeader
{
    quint16 cipherNid = 0;
    quint16 cipherFlags = 0;
    quint16 digestNid = 0;
    qint64 salt = 0;
    quint16 iterations = 0;
    QByteArray data;
    quint16 flags = DefaultFlags;
};

// The in-memory layout of the headers of versions 5 (8-bit flags) and 6 (32-bit flags); set up as
// a template: flags 1, no vertices, 80 blanks as text.
template <typename Flags>
struct LegacyHeader : FixedHeader
{
    Flags flags = 1;
    qint32 vertexCount = 0;
};
using HeaderV5 = LegacyHeader<quint8>;
using HeaderV6 = LegacyHeader<quint32>;

// A version-6 enciphered vertex block as read. state: 0 not yet checked, 1 good, -1 failed.
struct EncryptedVertices
{
    QByteArray data;
    quint16 checksum = 0;
    qint16 digestNid = 0;
    qint32 iterations = 0;
    qint64 salt = 0;
    int state = 0;
};

// A version-5 enciphered vertex block: n records of x, y, z as raw little-endian floats.
struct VersionFiveBlock
{
    qint32 vertexCount = 0;
    qint64 salt = 0;
    QByteArray data;
};

// Stores the magic "QRNK" and the version; the other fields keep their values.
void setupHeader(Header &header, quint32 version);
// As above and fills the template: flags 1, no vertices, a text of 80 blanks.
void setupHeader(HeaderV5 &header, quint32 version);
void setupHeader(HeaderV6 &header, quint32 version);

// The part that the private records of the writer and the reader share: the cipher key, the mutex
// held for the whole of a task, the little-endian, single-precision data stream on the device, the
// status (read by other threads while a task runs) and the header, set up for version 7.
struct TaskRecord
{
    explicit TaskRecord(QIODevice *device);
    // True when the stream's device is open in the mode, or opens in it now; otherwise the status
    // becomes `failure` and the result is false.
    bool prepareDevice(QIODevice::OpenMode mode, int failure);

    QByteArray key;
    QMutex mutex;
    QDataStream stream;
    std::atomic<int> status{0};
    Header header;
};

// Replaces a record (a TaskRecord) by a fresh one on device once a running task has ended; the old
// stream lets go of its device first.
template <typename Record>
void renewRecord(Record *&record, QIODevice *device)
{
    Record *old = record;
    old->mutex.lock();
    old->stream.setDevice(nullptr);
    record = new Record(device);
    old->mutex.unlock();
    delete old;
}

// Deletes a record (a TaskRecord) once a running task has ended.
template <typename Record>
void deleteRecord(Record *record)
{
    record->mutex.lock();
    record->mutex.unlock();
    delete record;
}

// Bytes per stored attribute for the low 3 bits of flags: 0, 2 or 4.
int attributeWidth(quint32 flags);

// Replaces block's data by qCompress (default level) of the vertex list in its stream form.
void compressVertices(Header &block, const QVector<Vector3f> &vertices);
// As above into a version-6 block, whose checksum becomes qChecksum of the compressed bytes.
void compressVertices(EncryptedVertices &block, const QVector<Vector3f> &vertices);

// A version-5 block of the vertices with the salt: their count and their raw records.
VersionFiveBlock versionFiveBlock(const QVector<Vector3f> &vertices, qint64 salt);
// The vertices of a version-5 block: its count of records from its data, fewer when the data
// ends early; none for a negative count.
QVector<Vector3f> readVersionFiveBlock(const VersionFiveBlock &block);

// Uncompresses qCompress output like qUncompress, but the output grows only as the zlib stream
// produces it, so a damaged length prefix cannot claim memory. Empty on any damage.
QByteArray uncompress(const QByteArray &compressed);
// Reads a vertex list (32-bit count, then x, y, z per vertex) from uncompressed bytes. Returns
// false, and leaves vertices empty, for a negative count or a list longer than the bytes.
bool parseVertexList(const QByteArray &bytes, QVector<Vector3f> &vertices);
// Uncompresses block's data into vertices; false when it is damaged or empty.
bool uncompressVertices(const Header &block, QVector<Vector3f> &vertices);
// The vertices of a deciphered version-6 block; checks the checksum and the compression on the
// first call and remembers the verdict in state. An empty list and the critical message
// "Qrn.EncryptedVertices decryption failed." when the block is not good.
QVector<Vector3f> decodeVertices(EncryptedVertices &block);

// Reads the little-endian values of a file from a data stream's device in large chunks, so a
// value costs a few instructions instead of a device call. A value that the device cannot
// supply reads as 0 and sets the stream's status to ReadPastEnd, as QDataStream would. Bytes
// beyond the last value asked for may be taken from the device.
class ChunkReader
{
public:
    explicit ChunkReader(QDataStream &stream);

    // True while the stream's status is Ok.
    bool ok() const { return m_stream.status() == QDataStream::Ok; }
    // Marks the stream as damaged (ReadCorruptData) unless it already failed.
    void setCorrupt() { m_stream.setStatus(QDataStream::ReadCorruptData); }
    // Whether the device reported damaged data (a read gave -1), as a gzip file does for a
    // stream that fails its check or is cut short, rather than a clean end.
    bool deviceFailed() const { return m_deviceFailed; }

    quint8 readU8() { return quint8(readLittle<1>()); }
    quint16 readU16() { return quint16(readLittle<2>()); }
    qint32 readI32() { return qint32(quint32(readLittle<4>())); }
    quint32 readU32() { return quint32(readLittle<4>()); }
    qint64 readI64() { return qint64(readLittle<8>()); }
    // An attribute of the given width (0, 2 or 4 bytes), zero-extended.
    quint32 readAttribute(int width)
    {
        return width == 2 ? quint32(readLittle<2>()) : width == 4 ? quint32(readLittle<4>()) : 0;
    }
    // A 32-bit count; a negative one marks the stream as damaged (ReadCorruptData) and reads as 0.
    qint32 readCount();

    // Up to n bytes, appended to out as they arrive; false (ReadPastEnd) when fewer exist.
    bool readRaw(QByteArray &out, qint64 n);
    // A byte array in Qt's stream form (32-bit length, 0xFFFFFFFF for null, then the bytes).
    QByteArray readByteArray();
    // A vertex list (32-bit count, then x, y, z per vertex), grown as records arrive: a negative
    // count is corrupt data, a count beyond the data ends as ReadPastEnd.
    void readVertexList(QVector<Vector3f> &vertices);
    // n records of x, y, z appended to vertices as they arrive (n >= 0).
    void readVertexRecords(QVector<Vector3f> &vertices, qint64 n);
    // True when every byte has been read: none is left in the chunk, and the device reads 0 more
    // (its clean end). A byte more, or a device that reports damage (-1), gives false.
    bool atCleanEnd();

private:
    bool need(int n) { return m_end - m_pos >= n || refill(n); }
    // Moves the unread bytes to the front and reads from the device until n bytes are there.
    bool refill(int n);
    template <int N>
    quint64 readLittle()
    {
        if (!need(N))
            return 0;
        quint64 v = 0;
        for (int i = 0; i < N; ++i)
            v |= quint64(quint8(m_pos[i])) << (8 * i);
        m_pos += N;
        return v;
    }

    QDataStream &m_stream;
    QByteArray m_buffer;
    const char *m_pos = nullptr;
    const char *m_end = nullptr;
    bool m_deviceFailed = false;
};

// Collects the little-endian values of a file and hands them to a data stream's device in large
// chunks through QDataStream::writeRawData, so a failed write sets the stream's status.
class ChunkWriter
{
public:
    explicit ChunkWriter(QDataStream &stream);
    // Flushes what is left.
    ~ChunkWriter();

    // True while the stream's status is Ok.
    bool ok() const { return m_stream.status() == QDataStream::Ok; }

    void writeU16(quint16 v) { writeLittle<2>(v); }
    void writeU32(quint32 v) { writeLittle<4>(v); }
    void writeI64(qint64 v) { writeLittle<8>(quint64(v)); }
    // The low bytes of an attribute at the given width (0, 2 or 4 bytes).
    void writeAttribute(quint32 v, int width)
    {
        if (width == 2)
            writeLittle<2>(v);
        else if (width == 4)
            writeLittle<4>(v);
    }
    void writeRaw(const char *data, qint64 n);
    // Qt's stream form of a byte array.
    void writeByteArray(const QByteArray &data);
    // A vertex list: 32-bit count, then x, y, z per vertex.
    void writeVertexList(const QVector<Vector3f> &vertices);
    // Hands the collected bytes to the device; false when the stream failed.
    bool flush();

private:
    template <int N>
    void writeLittle(quint64 v)
    {
        if (m_capacity - m_used < N)
            flush();
        char *p = m_data + m_used;
        for (int i = 0; i < N; ++i)
            p[i] = char(v >> (8 * i));
        m_used += N;
    }

    QDataStream &m_stream;
    QByteArray m_buffer;
    char *m_data = nullptr;
    int m_capacity = 0;
    int m_used = 0;
};

} // namespace Qrn
} // namespace geom
