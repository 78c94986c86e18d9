#pragma once

#include <QByteArray>
#include <QMatrix4x4>
#include <QObject>

class QDataStream;
class QIODevice;

namespace geom {

class StlMesh;

// Writes one mesh to a device as a version-7 compressed mesh file: header, vertex block
// (enciphered when a key is set), then the triangle strips and loose facet groups of the mesh's
// stripped form, which is built on a thread of its own while the vertex block is written.
// The device is the writer's QObject parent; destroy the writer before the device.
class QrnWriter : public QObject
{
    Q_OBJECT

public:
    enum Status
    {
        Idle = 0,        // no write under way
        Running = 1,     // a write is under way
        Done = 2,        // the whole file was written
        NotWritable = 3, // no device, or it cannot be opened write-only
        WriteFailed = 4, // the device refused data, or the vertex block could not be enciphered
        Failed = 5       // the stripped form does not cover the mesh's facets (or no mesh)
    };

    explicit QrnWriter(QIODevice *device);
    // Waits for a running write to end.
    ~QrnWriter() override;

    // Waits for a running write, then starts afresh on device: every setting back to its
    // initial value.
    void setDevice(QIODevice *device);

    // The 80-byte text: the first 80 bytes of text, padded with zero bytes. No lock.
    void setComment(const QByteArray &text);
    QByteArray comment() const;
    // Idle between writes, Running during one.
    Status status() const;
    // Applied to every vertex before it is written; a mirroring matrix also turns the facets'
    // winding, so the file holds the mirrored model with outward facets. No lock.
    void setTransform(const QMatrix4x4 &m);
    QMatrix4x4 transform() const;
    // When not empty, the vertex block is enciphered with Blowfish (CBC) keyed by PBKDF2 of key.
    void setKey(const QByteArray &key);
    // Share of the write done, 0 to 1; any thread may read it while write() runs.
    float progress() const;
    // The little-endian, single-precision data stream on the device.
    QDataStream *stream();

    // Writes mesh (which nothing may change meanwhile) and returns Done, NotWritable,
    // WriteFailed or Failed; status() is Idle again afterwards. Holds the writer's mutex
    // throughout; a null mesh gives Failed with nothing written.
    Status write(const StlMesh *mesh);

private:
    struct Record;

    Record *d;
};

} // namespace geom
