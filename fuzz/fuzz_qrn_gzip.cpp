// Compressed mesh files as they lie on disk, through GZipFile and QrnReader as the program
// opens them. GZipFile needs a real file: the input is written to one in memory-backed storage.

#include "qrnfuzz.h"

#include "io/gzipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>
#include <zlib.h>

namespace {

QString scratchPath()
{
    const QString base =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return QStringLiteral("%1/quarn-fuzz-qrn-%2.qrn").arg(base).arg(qint64(::getpid()));
}

const QString &path()
{
    static const QString p = scratchPath();
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile out(path());
        quarnfuzz::require(out.open(QIODevice::WriteOnly | QIODevice::Truncate),
                           "cannot write the scratch file");
        quarnfuzz::require(out.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
                           "cannot write the scratch file");
    }
    GZipFile file(path());
    const geom::QrnReader::Status status = quarnfuzz::readQrn(&file);
    // The program's progress bar divides the position by the size while the task runs.
    if (file.isOpen())
        quarnfuzz::require(file.pos() >= 0 && file.pos() <= file.size(), "GZipFile position beyond its size");
    file.close();
    if (status == geom::QrnReader::Done) {
        // zlib on its own must find the stream intact to its end, and the content must end
        // with the last group.
        QByteArray content;
        int code = Z_OK;
        if (gzFile gz = gzopen(QFile::encodeName(path()).constData(), "rb")) {
            char chunk[1 << 14];
            int n;
            while ((n = gzread(gz, chunk, sizeof chunk)) > 0)
                content.append(chunk, n);
            gzerror(gz, &code);
            gzclose(gz);
        }
        quarnfuzz::require(code == Z_OK, "QrnReader took a damaged gzip stream");
        quarnfuzz::requireEndChecked(content);
    }
    // note: removed after every input, as libFuzzer ends the process without running exit handlers.
    QFile::remove(path());
    return 0;
}
