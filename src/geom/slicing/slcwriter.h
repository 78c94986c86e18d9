#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QList>

class QIODevice;

namespace geom {
class Slice;
}

// Writes layers as an SLC slice file: the header text ended by CR LF SUB and 256 reserved zero
// bytes, a one-entry sampling table, per layer its z and its closed boundaries, and a termination
// record (the z above the last layer and -1). Little-endian, single-precision floats. The device is
// not owned and never closed; the writer starts at its position 0.
class SlcWriter
{
public:
    // A writer on the device (which may be closed; it is opened write-only when a layer is written).
    explicit SlcWriter(QIODevice *device);
    // Writes the termination record when some layer was written, the stream is fine and finish()
    // was not called. The device must still be open.
    ~SlcWriter();
    SlcWriter(const SlcWriter &) = delete;
    SlcWriter &operator=(const SlcWriter &) = delete;

    // The header text "-SLCVER 2.0 -UNIT MM -TYPE PART" by default; a non-empty text replaces it,
    // without surrounding white space. Only before the first layer.
    void setHeader(const QByteArray &text);
    // The header bytes as written: the text, CR LF SUB and the 256 reserved bytes.
    QByteArray header() const;
    // False without a device; true when it is writable, or closed and could be opened write-only.
    bool isWritable();

    // Writes one layer (the header and sampling table first, from this layer's z and thickness).
    // Contours are closed on write: a point list whose last point differs from the first gets the
    // first point again. countGaps counts consecutive equal points per boundary. False when the
    // stream has failed before or fails now, or the device cannot be written.
    bool writeSlice(const geom::Slice &slice, bool countGaps = false);
    // Writes the slices in order; -1 when the first fails, else the number written (a failed slice is
    // skipped).
    int writeSlices(const QList<geom::Slice> &slices, bool countGaps = false);

    // Writes the termination record once (when some layer was written), flushes the device, and
    // returns whether every write so far succeeded. Later layers are refused.
    bool finish();
    // QDataStream's status of the writes: Ok or WriteFailed.
    QDataStream::Status status() const;

private:
    bool writeTermination();

    QDataStream m_stream;
    QByteArray m_header;
    float m_nextZ;
    bool m_finished = false;
};
