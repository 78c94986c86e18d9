#include "io/gzipfile.h"
#include "io/iolog.h"

#include <QByteArray>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
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
    gzFile stream = nullptr;
    int strategy = Z_DEFAULT_STRATEGY;
    int bufferSize = std::max(MinimumBufferSize, DefaultBufferSize);
    int level = Z_DEFAULT_COMPRESSION;
    // note: these three are read by pos() and size() from the thread that shows progress
    // while the owning thread reads or writes, so they are atomics and zlib's own state is
    // never touched from there.
    std::atomic<qint64> uncompressedSize{-1};
    std::atomic<qint64> streamPosition{0};
    std::atomic<qint64> appendBase{0};
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
            oldSize = std::max<qint64>(d->uncompressedSize, 0);
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
    const char *zmode = isReadable() ? "rb" : (openMode() & Append) ? "ab" : "wb";
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
    if (isWritable()) {
        if (gzsetparams(stream, d->level, d->strategy) != Z_OK)
            qCWarning(lcIo, "GZipFile.open invalid compression parameters.");
    } else if (gzdirect(stream) == 0) {
        // note: the whole content is inflated once so that size() and the progress drawn
        // from pos() are exact; readData stops at the first read that makes no progress.
        QByteArray scratch(d->bufferSize, Qt::Uninitialized);
        qint64 total = 0;
        for (;;) {
            const qint64 got = readData(scratch.data(), scratch.size());
            if (got < 1)
                break;
            total += got;
        }
        d->uncompressedSize = total;
        gzrewind(stream);
    }
    updatePosition();
    QIODevice::seek(0);
    return true;
}

void GZipFile::close()
{
    int result = Z_OK;
    int systemError = 0;
    if (d->stream) {
        errno = 0;
        result = gzclose(d->stream);
        systemError = errno;
        d->stream = nullptr;
    }
    d->uncompressedSize = -1;
    d->streamPosition = 0;
    d->appendBase = 0;
    const bool writing = isWritable();
    QFile::close();
    if (writing && result != Z_OK)
        setErrorString(errorText(result, systemError, zError(result)));
}

void GZipFile::updatePosition()
{
    d->streamPosition = d->stream ? qint64(gztell(d->stream)) : 0;
}

qint64 GZipFile::streamPosition() const
{
    return d->streamPosition + d->appendBase;
}

qint64 GZipFile::pos() const
{
    return streamPosition();
}

qint64 GZipFile::size() const
{
    if (isWritable())
        return pos();
    // note: zlib drops the bytes of a read call that runs into damaged data, so how much of a
    // damaged stream comes out depends on the size of the reads; the size measured at open can
    // then fall behind a later position. A progress bar divides the one by the other.
    return std::max({QFile::size(), qint64(d->uncompressedSize), pos()});
}

bool GZipFile::seek(qint64 target)
{
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
    const bool rewound = gzrewind(d->stream) != -1;
    updatePosition();
    return rewound && QIODevice::seek(0);
}

bool GZipFile::atEnd() const
{
    // note: size() may be the larger size on disk, which would keep QFile's answer false
    // behind the last byte of a small or incompressible content.
    if (d->stream && isReadable())
        return QIODevice::pos() >= d->uncompressedSize;
    return QFile::atEnd();
}

bool GZipFile::canReadLine() const
{
    return false;
}

bool GZipFile::flush()
{
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
    if (d->stream && isWritable())
        return gzsetparams(d->stream, d->level, d->strategy);
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
    if (!d->stream) {
        setErrorString(tr("No gzip stream attached"));
        return -1;
    }
    qint64 written = 0;
    while (written < len) {
        const unsigned piece = unsigned(std::min(len - written, MaximumChunk));
        errno = 0;
        const int n = gzwrite(d->stream, data + written, piece);
        const int systemError = errno;
        if (n > 0)
            written += n;
        if (n < int(piece)) {
            int code = Z_OK;
            const char *message = gzerror(d->stream, &code);
            setErrorString(errorText(code, systemError, message));
            break;
        }
    }
    updatePosition();
    return written > 0 || len <= 0 ? written : -1;
}
