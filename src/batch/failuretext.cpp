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

QString writeFailureText(geom::QrnWriter::Status status)
{
    switch (status) {
    case geom::QrnWriter::NotWritable:
        return QStringLiteral("Not writable");
    case geom::QrnWriter::Failed:
        return QStringLiteral("Conversion failed");
    default:
        return QStringLiteral("Write failed");
    }
}
