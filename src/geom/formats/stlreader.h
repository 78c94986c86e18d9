#pragma once

#include <QByteArray>
#include <QFlags>

class QIODevice;

namespace geom {

class StlMesh;
class StlReaderPrivate;

// Reads a binary or ASCII STL file from a device into a new StlMesh, merging equal vertices. An
// ASCII attempt runs first; when it fails the device is rewound and read as binary. One reader
// serves one device and one read; it offers no progress of its own (compare the device's
// position with its size). Used by one thread at a time.
class StlReader
{
public:
    enum Status
    {
        NotReadable = 1,   // cannot be opened or rewound, or neither encoding could be read
        InvalidFormat = 2, // shorter than the 80-byte header
        Truncated = 4,     // the count is missing or larger than the data
        OutOfMemory = 8    // an allocation failed while reading
    };
    Q_DECLARE_FLAGS(Statuses, Status)

    // A reader on `device`; warns when the device is not at position 0.
    explicit StlReader(QIODevice *device);
    // Deletes a mesh that a failed read left behind.
    ~StlReader();

    // The task body: reads the device (opening it read-only when needed) and returns the finished
    // mesh, which the caller owns, or null when a status flag is set. A further call does not read
    // again: it returns an empty mesh when the first succeeded, else null.
    StlMesh *read();

    Statuses status() const;
    // The 80 header bytes of a binary file; 80 blanks for an ASCII file.
    const QByteArray &header() const;
    QIODevice *device() const;
    // 0 while nothing was recognised, 1 binary, 2 ASCII.
    int format() const;

private:
    Q_DISABLE_COPY(StlReader)
    StlReaderPrivate *const d;
};

} // namespace geom

Q_DECLARE_OPERATORS_FOR_FLAGS(geom::StlReader::Statuses)
