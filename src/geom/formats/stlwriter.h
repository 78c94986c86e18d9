#pragma once

#include "geom/core/facet.h"

#include <QByteArray>
#include <QList>
#include <QMatrix4x4>
#include <QString>
#include <QVector>

class QIODevice;

namespace geom {

class StlMesh;
class StlWriterPrivate;

// Writes binary STL files: a whole mesh, or loose facet records, optionally mapped through a
// transform, onto a device the caller owns. The writer opens the device when it is not writable
// and closes it when it completes the file (count patch); the destructor completes a file that
// received records and was not completed by finish(). One writer writes one file.
class StlWriter
{
public:
    // A writer on `device`, which must not be null. Warns when the device is not at position 0.
    explicit StlWriter(QIODevice *device);
    // Completes the file (count patch and close) when records were written and finish() was not
    // called since.
    ~StlWriter();

    // The header text, cut to 80 bytes or padded with blanks to 80.
    void setHeader(const QByteArray &header);
    QByteArray header() const;
    QIODevice *device() const;
    // The attribute word of loose facets written without one of their own.
    void setAttribute(quint16 attribute);
    quint16 attribute() const;
    // Applied to every point written; the identity by default. A mirroring transform writes each
    // facet with its second and third vertex exchanged, so the model is not turned inside out.
    void setTransform(const QMatrix4x4 &transform);
    QMatrix4x4 transform() const;

    // Records written by the running write call over the records it means to write; 0 before the
    // first call. Safe to read from another thread while a write runs.
    float progress() const;

    // Writes the mesh's facets with normals computed from the (mapped) vertices and the low 16
    // bits of each facet's attribute. Returns the records written, -1 when the device cannot be
    // opened for writing or is sequential. Takes no lock: the mesh must not change meanwhile.
    int write(const StlMesh &mesh);
    // As above; -1 for a null mesh. The form run as a task.
    int write(StlMesh *mesh);
    // Writes one record; a negative attribute means the writer's attribute. False when the device
    // fails or the record is not taken in full.
    bool write(const Facet &facet, int attribute = -1);
    // Writes the records with the writer's attribute; returns the records written, -1 when the
    // device fails before the first.
    int write(const QList<Facet> &facets);
    int write(const QVector<Facet> &facets);
    // Writes n records with their attribute words (null: the writer's attribute). Returns the
    // records written, -1 when the device fails before the first, 0 for a null facet array.
    int write(int n, const Facet *facets, const quint16 *attributes);

    // Writes the record count into the header and closes the device. True when the count was
    // patched and the device flushed and closed without error.
    bool finish();
    // The file device's error text of the first write, patch or close that failed, kept since the
    // file forgets it at its next seek or close; empty when nothing failed or the device is no
    // file or gave no reason.
    QString errorString() const;

private:
    Q_DISABLE_COPY(StlWriter)
    StlWriterPrivate *const d;
};

} // namespace geom
