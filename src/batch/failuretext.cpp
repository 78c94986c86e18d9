#include "batch/failuretext.h"

QString readFailureText(geom::StlReader::Statuses status)
{
    if (status & geom::StlReader::OutOfMemory)
        return QStringLiteral("Not enough memory");
    if (status & (geom::StlReader::InvalidFormat | geom::StlReader::Truncated))
        return QStringLiteral("Incorrect format");
    return QStringLiteral("Not readable");
}

QString readFailureText(geom::QrnReader::Status status)
{
    switch (status) {
    case geom::QrnReader::OutOfMemory:
        return QStringLiteral("Not enough memory");
    case geom::QrnReader::IncorrectFormat:
        return QStringLiteral("Incorrect format");
    case geom::QrnReader::CorruptedData:
        return QStringLiteral("Corrupted data");
    default:
        return QStringLiteral("Not readable");
    }
}

QString readFailureText(const geom::QrnReader &reader, geom::QrnReader::Status status)
{
    const bool keyMissing =
        status == geom::QrnReader::IncorrectFormat || status == geom::QrnReader::CorruptedData;
    if (keyMissing && reader.enciphered())
        return QStringLiteral("Enciphered, cannot be read without its key");
    return readFailureText(status);
}

QString droppedFacetsText(int count)
{
    return QStringLiteral("Corrupted data: %1 facets refer to missing vertices").arg(count);
}

QString writeFailureText(geom::QrnWriter::Status status)
{
    switch (status) {
    case geom::QrnWriter::NotWritable:
        return QStringLiteral("Not writable");
    case geom::QrnWriter::Failed:
        // note: the stripped form fails to build only when memory runs out (the stripper's
        // containers throw); the writer itself allocates nothing large.
        return QStringLiteral("Not enough memory");
    default:
        return QStringLiteral("Write failed");
    }
}
