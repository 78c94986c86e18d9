#pragma once

#include "geom/core/facet.h"

#include <QByteArray>
#include <QDataStream>
#include <QMatrix4x4>
#include <QString>

#include <atomic>

class QIODevice;

namespace geom {

class StlWriterPrivate
{
public:
    explicit StlWriterPrivate(QIODevice *device);

    // Makes the device ready behind the header (writing header and a zero count on a fresh file)
    // and starts the progress at 0 of n. False when the device cannot be written.
    bool begin(quint32 n);
    // Writes `count` records held back to back in `records` (50 bytes each) and counts the ones
    // the device took in full. Returns that number.
    quint32 writeRecords(const char *records, quint32 count);
    // Patches the count field and closes the device. Returns the records written; `completed`
    // (when given) tells whether patch, flush and close succeeded.
    quint32 finish(bool *completed = nullptr);
    // The loose-facet forms: begin(announced), then n records (attributes may be null, then the
    // default word), mapped when a transform is set. Returns the records written, -1 when begin fails.
    int writeFacets(quint32 n, const Facet *facets, const quint16 *attributes, bool useAttributes,
                    quint32 announced);
    // Keeps the file device's error text in `failure` unless one is kept already; nothing when
    // the device is no file or has no error.
    void noteFailure();

    QDataStream stream;
    quint32 facetCount = 0;
    std::atomic<quint32> done{0};
    std::atomic<quint32> total{0};
    QByteArray header;
    quint16 attribute = 0;
    QMatrix4x4 transform;
    // True while the file holds no records beyond the last finish().
    bool finished = false;
    // The device's reason for the first failed step; empty when none failed or it gave none.
    QString failure;
};

} // namespace geom
