#include "batch/failuretext.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString sourceFailureText(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    // Only a name that leads nowhere is a missing file: a loop of links or a folder that may not
    // be searched hides a file that may well be there.
    if (::stat(name.constData(), &status) != 0)
        return errno == ENOENT ? QStringLiteral("File does not exist") : qt_error_string(errno);
    const QString type = fileTypeFailureText(status.st_mode);
    if (!type.isNull())
        return type;
    // note: without O_NONBLOCK a pipe put in the file's place since the test above would hold
    // this open until a writer came.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    ::close(fd);
    return QString();
}

QString fileTypeFailureText(unsigned mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder");
    if (!S_ISREG(mode))
        return QStringLiteral("Not a regular file (a pipe, socket or device)");
    return QString();
}

QString readFailureText(geom::StlReader::Statuses status)
{
    if (status & geom::StlReader::OutOfMemory)
        return QStringLiteral("Not enough memory");
    if (status & (geom::StlReader::InvalidFormat | geom::StlReader::Truncated))
        return QStringLiteral("Incorrect format");
    return QStringLiteral("Not readable");
}

namespace {

QString qrnStatusText(geom::QrnReader::Status status)
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

} // namespace

QString readFailureText(const geom::QrnReader &reader, geom::QrnReader::Status status)
{
    const bool keyMissing =
        status == geom::QrnReader::IncorrectFormat || status == geom::QrnReader::CorruptedData;
    if (keyMissing && reader.enciphered())
        return QStringLiteral("Enciphered, cannot be read without its key");
    return qrnStatusText(status);
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

QString writeFailureText(const geom::StlWriter &writer)
{
    const QString reason = writer.errorString();
    return reason.isEmpty() ? QStringLiteral("Write failed") : reason;
}
