#pragma once

#include <QByteArray>

class QDataStream;
class QIODevice;

namespace geom {

class StlMesh;

// Reads one compressed mesh file of any version from 0 to 7 from a device (gzip-wrapped or
// plain) and builds the mesh from it. Counts in the file never size memory by themselves: a
// damaged count ends as IncorrectFormat with memory bounded by the file's content.
class QrnReader
{
public:
    enum Status
    {
        Idle = 0,            // no read under way
        Running = 1,         // a read is under way
        Done = 2,            // the mesh was read and built
        NotReadable = 3,     // no device, or it cannot be opened read-only
        IncorrectFormat = 4, // wrong magic or version, data that ends early or is damaged
        CorruptedData = 5,   // an enciphered vertex block (version 6 or 7) that does not decipher,
                             // data after the last group that is not the stream's clean end, or
                             // a device that reported damaged data anywhere (a gzip stream cut
                             // short, failing its check or followed by bytes that are no member)
        OutOfMemory = 6      // an allocation failed; the mesh was cleared
    };

    explicit QrnReader(QIODevice *device);
    // Waits for a running read to end.
    ~QrnReader();
    QrnReader(const QrnReader &) = delete;
    QrnReader &operator=(const QrnReader &) = delete;

    // Waits for a running read, then starts afresh on device with every field at its initial value.
    void setDevice(QIODevice *device);

    // The file's 80-byte text (80 zero bytes before a read).
    QByteArray comment() const;
    // Idle between reads, Running during one.
    Status status() const;
    // The version field of the last file read, even when the read then failed (7 before a read).
    int version() const;
    // The key for enciphered vertex blocks; without it they fail.
    void setKey(const QByteArray &key);
    // The little-endian, single-precision data stream on the device.
    QDataStream *stream();

    // Facets of the last read that named a vertex outside the vertex list; the mesh leaves them
    // out. 0 unless the read was Done.
    int droppedFacetCount() const;

    // Whether the last file read has an enciphered vertex block (known once its flags or cipher
    // field were read), which cannot be read without the key.
    bool enciphered() const;

    // Reads the file to the end of its data and, on success, replaces mesh's content. Returns Done,
    // NotReadable, IncorrectFormat, CorruptedData or OutOfMemory (mesh cleared); any other failure leaves
    // mesh untouched. status() is Idle again afterwards. Holds the reader's mutex throughout. A null mesh
    // only checks the file.
    Status read(StlMesh *mesh);

private:
    struct Record;

    Record *d;
};

} // namespace geom
