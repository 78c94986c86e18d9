#include "io/gzipfile.h"
#include "io/iolog.h"

#include "io/blockdeflater.h"

#include <QByteArray>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int MinimumBufferSize = 4096;
constexpr int DefaultBufferSize = 65536;
// gzread and gzwrite take lengths that must fit an int; larger requests go in pieces.
constexpr qint64 MaximumChunk = qint64(1) << 30;

// Reading and writing at once is not possible through one gzip stream.
bool refusesReadWrite(QIODevice::OpenMode mode)
{
    if ((mode & QIODevice::ReadWrite) != QIODevice::ReadWrite)
        return false;
    qCCritical(lcIo, "GZipFile.open does not support ReadWrite.");
    return true;
}

// The text of a zlib failure: the system's own text when the file refused (a full disk, a
// size limit), since zlib's then reads "file error" or names its descriptor; else zlib's.
QString errorText(int code, int systemError, const char *zlibMessage)
{
    if (code == Z_ERRNO && systemError != 0)
        return qt_error_string(systemError);
    return QString::fromLatin1(zlibMessage);
}

} // namespace

struct GZipFile::Private
{
    // Reading: zlib's stream. Writing: the block deflater, which uses several processors.
    gzFile stream = nullptr;
    std::unique_ptr<BlockDeflater> deflater;
    // The system's error of a failed write of compressed data (a full disk), else 0.
    int writeError = 0;
    int strategy = Z_DEFAULT_STRATEGY;
    int bufferSize = std::max(MinimumBufferSize, DefaultBufferSize);
    int level = Z_DEFAULT_COMPRESSION;
    // note: these four are read by pos() and size() from the thread that shows progress
    // while the owning thread reads or writes, so they are atomics and zlib's own state is
    // never touched from there.
    std::atomic<qint64> uncompressedSize{-1};
    std::atomic<qint64> streamPosition{0};
    std::atomic<qint64> appendBase{0};
    std::atomic<qint64> compressedPosition{0};
    // QFile::open(Append) seeks on its own before our stream exists; that seek must not attach.
    bool opening = false;
};

GZipFile::GZipFile(QObject *parent)
    : QFile(parent)
    , d(new Private)
{}

GZipFile::GZipFile(const QString &name, QObject *parent)
    : QFile(name, parent)
    , d(new Private)
{}

GZipFile::~GZipFile()
{
    if (isOpen())
        close();
    delete d;
}

bool GZipFile::open(OpenMode mode)
{
    if (refusesReadWrite(mode))
        return false;
    if (!(mode & (ReadOnly | Append | WriteOnly)))
        return false;

    qint64 oldSize = 0;
    if (mode & (ReadOnly | Append)) {
        const OpenMode readMode = (mode & ~OpenMode(WriteOnly | Append)) | ReadOnly;
        if (QFile::open(readMode)) {
            if (attachStream() && (mode & ReadOnly))
                return true;
            oldSize = std::max<qint64>(measureSize(), 0);
        }
        close();
        if (!(mode & (WriteOnly | Append)))
            return false;
    }

    d->opening = true;
    const bool opened = QFile::open(mode);
    d->opening = false;
    if (!opened)
        return false;
    if (!attachStream()) {
        close();
        return false;
    }
    d->uncompressedSize = oldSize;
    if (mode & Append) {
        d->appendBase = oldSize;
        QIODevice::seek(oldSize);
    }
    return true;
}

template <typename OpenFile>
bool GZipFile::openHandle(OpenMode mode, OpenFile openFile)
{
    if (refusesReadWrite(mode))
        return false;
    d->opening = true;
    const bool opened = openFile();
    d->opening = false;
    if (!opened)
        close();
    return opened;
}

bool GZipFile::open(FILE *file, OpenMode mode, FileHandleFlags handleFlags)
{
    return openHandle(mode, [&] { return QFile::open(file, mode, handleFlags); });
}

bool GZipFile::open(int fd, OpenMode mode, FileHandleFlags handleFlags)
{
    return openHandle(mode, [&] { return QFile::open(fd, mode, handleFlags); });
}

bool GZipFile::attachStream()
{
    if (isSequential() || !QFile::seek(0)) {
        qCCritical(lcIo, "GZipFile.open does not support streams.");
        return false;
    }
    if (isWritable()) {
        // Append mode writes at the end on its own; a new member starts there.
        d->writeError = 0;
        const int fd = handle();
        d->deflater.reset(new BlockDeflater(
            [fd, this](const char *data, size_t size) {
                while (size > 0) {
                    const ssize_t n = ::write(fd, data, size);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0) {
                        d->writeError = n < 0 ? errno : ENOSPC;
                        return false;
                    }
                    data += n;
                    size -= size_t(n);
                }
                return true;
            },
            d->level, d->strategy));
        d->uncompressedSize = QFile::size();
        updatePosition();
        QIODevice::seek(0);
        return true;
    }
    const char *zmode = "rb";
    // zlib closes the duplicate with its stream; the file keeps and closes its own descriptor.
    const int fd = ::dup(handle());
    if (fd < 0)
        return false;
    gzFile stream = gzdopen(fd, zmode);
    if (!stream) {
        ::close(fd);
        return false;
    }
    d->stream = stream;
    d->uncompressedSize = QFile::size();
    gzbuffer(stream, unsigned(d->bufferSize));
    // note: the uncompressed size of gzip content is not known before it has been inflated once;
    // size() learns it when first asked, and a read that runs to the clean end learns it for free.
    d->uncompressedSize = gzdirect(stream) ? QFile::size() : -1;
    updatePosition();
    QIODevice::seek(0);
    return true;
}

qint64 GZipFile::measureSize() const
{
    if (d->uncompressedSize >= 0 || !d->stream)
        return d->uncompressedSize;
    gzFile stream = d->stream;
    const z_off_t here = gztell(stream);
    QByteArray scratch(d->bufferSize, Qt::Uninitialized);
    qint64 total = here;
    for (;;) {
        gzclearerr(stream);
        const int n = gzread(stream, scratch.data(), unsigned(scratch.size()));
        if (n > 0) {
            total += n;
            continue;
        }
        // Stops at the end and at the first read that makes no progress (damaged data).
        break;
    }
    // The way back rereads from the start, which a standing error would refuse.
    gzclearerr(stream);
    if (gzrewind(stream) != -1 && here > 0)
        gzseek(stream, here, SEEK_SET);
    gzclearerr(stream);
    d->uncompressedSize = total;
    return total;
}

void GZipFile::close()
{
    int result = Z_OK;
    int systemError = 0;
    QString failure;
    if (d->stream) {
        errno = 0;
        result = gzclose(d->stream);
        systemError = errno;
        d->stream = nullptr;
    }
    if (d->deflater) {
        if (!d->deflater->finish())
            failure = writeFailure();
        d->deflater.reset();
    }
    d->uncompressedSize = -1;
    d->streamPosition = 0;
    d->compressedPosition = 0;
    d->appendBase = 0;
    const bool writing = isWritable();
    QFile::close();
    if (writing && result != Z_OK)
        setErrorString(errorText(result, systemError, zError(result)));
    if (!failure.isEmpty())
        setErrorString(failure);
}

QString GZipFile::writeFailure() const
{
    if (d->writeError != 0)
        return qt_error_string(d->writeError);
    const char *message = d->deflater ? d->deflater->error() : nullptr;
    return QString::fromLatin1(message ? message : "write failed");
}

void GZipFile::updatePosition()
{
    if (d->deflater)
        d->streamPosition = qint64(d->deflater->consumed());
    else
        d->streamPosition = d->stream ? qint64(gztell(d->stream)) : 0;
    d->compressedPosition = d->stream ? qint64(gzoffset(d->stream)) : 0;
}

qint64 GZipFile::streamPosition() const
{
    return d->streamPosition + d->appendBase;
}

qint64 GZipFile::pos() const
{
    return streamPosition();
}

qint64 GZipFile::compressedPos() const
{
    return d->compressedPosition;
}

qint64 GZipFile::size() const
{
    if (isWritable())
        return pos();
    measureSize();
    // note: zlib drops the bytes of a read call that runs into damaged data, so how much of a
    // damaged stream comes out depends on the size of the reads; the size measured at open can
    // then fall behind a later position. A progress bar divides the one by the other.
    return std::max({QFile::size(), qint64(d->uncompressedSize), pos()});
}

bool GZipFile::seek(qint64 target)
{
    if (d->deflater) {
        // As zlib does: a write moves forwards only, over zeros.
        const qint64 gap = target - streamPosition();
        if (gap < 0)
            return false;
        const QByteArray zeros(int(std::min<qint64>(gap, 65536)), '\0');
        for (qint64 left = gap; left > 0;) {
            const qint64 piece = std::min<qint64>(left, zeros.size());
            if (!d->deflater->write(zeros.constData(), size_t(piece))) {
                updatePosition();
                return false;
            }
            left -= piece;
        }
        updatePosition();
        return QIODevice::seek(target);
    }
    if (!d->stream) {
        if (d->opening || !isOpen())
            return QFile::seek(target);
        return QFile::seek(target) && attachStream();
    }
    // QIODevice may hold bytes read ahead, between its own position and the stream's; a target
    // inside that window needs no move of the stream.
    const qint64 logical = QIODevice::pos();
    const qint64 ahead = streamPosition();
    if (target < logical || target > ahead) {
        const qint64 streamTarget = target - d->appendBase;
        // zlib refuses to move while a damaged stream's error stands; a move starts afresh.
        gzclearerr(d->stream);
        if (streamTarget < 0 || gzseek(d->stream, z_off_t(streamTarget), SEEK_SET) == -1) {
            updatePosition();
            return false;
        }
        updatePosition();
    }
    return QIODevice::seek(target);
}

bool GZipFile::reset()
{
    if (!d->stream)
        return false;
    // Drop what QIODevice read ahead before the stream starts again.
    QIODevice::seek(streamPosition());
    gzclearerr(d->stream);
    const bool rewound = gzrewind(d->stream) != -1;
    updatePosition();
    return rewound && QIODevice::seek(0);
}

bool GZipFile::atEnd() const
{
    // note: size() may be the larger size on disk, which would keep QFile's answer false
    // behind the last byte of a small or incompressible content.
    if (!d->stream || !isReadable())
        return QFile::atEnd();
    if (d->uncompressedSize >= 0)
        return QIODevice::pos() >= d->uncompressedSize;
    // Bytes read ahead wait in QIODevice's buffer; otherwise the stream shows whether one follows.
    if (QIODevice::pos() < streamPosition())
        return false;
    const int next = gzgetc(d->stream);
    if (next < 0)
        return true;
    gzungetc(next, d->stream);
    return false;
}

bool GZipFile::canReadLine() const
{
    return false;
}

bool GZipFile::flush()
{
    if (d->deflater) {
        const bool flushed = d->deflater->flush();
        if (!flushed)
            setErrorString(QString::fromLatin1(d->deflater->error()));
        return flushed;
    }
    if (!d->stream)
        return false;
    const bool flushed = gzflush(d->stream, Z_SYNC_FLUSH) == Z_OK;
    updatePosition();
    return flushed;
}

int GZipFile::bufferSize() const
{
    return d->bufferSize;
}

int GZipFile::setBufferSize(int size)
{
    d->bufferSize = std::max(size, MinimumBufferSize);
    return d->bufferSize;
}

int GZipFile::compressionLevel() const
{
    if (d->stream && isReadable())
        return gzdirect(d->stream) - 1;
    return d->level;
}

int GZipFile::compressionStrategy() const
{
    return d->strategy;
}

int GZipFile::setCompression(int level, int strategy)
{
    d->level = level > 9 ? 9 : level < 0 ? Z_DEFAULT_COMPRESSION : level;
    d->strategy = strategy;
    if (d->deflater && isWritable())
        return d->deflater->setParams(d->level, d->strategy) ? Z_OK : Z_STREAM_ERROR;
    return 0;
}

void GZipFile::ungetChar(char c)
{
    if (!d->stream)
        return;
    const qint64 logical = QIODevice::pos();
    if (isReadable() && logical > 0 && logical == streamPosition() &&
        gzungetc(static_cast<unsigned char>(c), d->stream) != -1) {
        updatePosition();
        QIODevice::seek(logical - 1);
        return;
    }
    // Bytes read ahead lie in QIODevice's buffer, in front of the stream: push back there.
    QFile::ungetChar(c);
}

qint64 GZipFile::readData(char *data, qint64 maxSize)
{
    if (!d->stream) {
        setErrorString(tr("No gzip stream attached"));
        return -1;
    }
    if (maxSize <= 0)
        return maxSize == 0 ? 0 : -1;
    qint64 got = 0;
    for (;;) {
        gzclearerr(d->stream);
        const unsigned piece = unsigned(std::min(maxSize - got, MaximumChunk));
        const int n = gzread(d->stream, data + got, piece);
        if (n > 0)
            got += n;
        if (got == maxSize)
            break;
        int code = Z_OK;
        const char *message = gzerror(d->stream, &code);
        setErrorString(QString::fromLatin1(message));
        if (gzeof(d->stream))
            break;
        // note: a buffer error is repeated only while it makes progress, so a damaged or
        // truncated stream cannot keep this loop (and open()) turning forever.
        if ((code == Z_BUF_ERROR || code == Z_OK) && n > 0)
            continue;
        break;
    }
    updatePosition();
    if (d->uncompressedSize < 0 && gzeof(d->stream)) {
        int code = Z_OK;
        gzerror(d->stream, &code);
        if (code == Z_OK)
            d->uncompressedSize = streamPosition() - d->appendBase;
    }
    if (got > 0)
        return got;
    // The end of undamaged data reads as 0, as for a plain file; only a damaged or cut stream
    // (a data error, a check or length mismatch, an unexpected end) reads as -1.
    int code = Z_OK;
    gzerror(d->stream, &code);
    return code == Z_OK && gzeof(d->stream) ? 0 : -1;
}

qint64 GZipFile::readLineData(char *data, qint64 maxSize)
{
    if (!d->stream || maxSize < 0)
        return -1;
    const qint64 room = std::min(maxSize + 1, MaximumChunk);
    const qint64 start = gztell(d->stream);
    gzclearerr(d->stream);
    const char *line = gzgets(d->stream, data, int(room));
    updatePosition();
    if (!line)
        return -1;
    const qint64 length = qint64(gztell(d->stream)) - start;
    if (length < 0 || length >= room) {
        qCWarning(lcIo, "GZipFile.readLine length error 0 < %lld < %lld", length, room);
        return -1;
    }
    return data[length] == '\0' || data[length] == '\n' ? length : -1;
}

qint64 GZipFile::writeData(const char *data, qint64 len)
{
    if (!d->deflater) {
        setErrorString(tr("No gzip stream attached"));
        return -1;
    }
    if (len <= 0)
        return 0;
    // note: the deflater takes every byte into its current block before it fails on a later
    // block, so a failure counts the whole request as not written.
    const bool written = d->deflater->write(data, size_t(len));
    updatePosition();
    if (written)
        return len;
    setErrorString(writeFailure());
    return -1;
}
