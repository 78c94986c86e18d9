#include "io/gzipfile.h"
#include "io/iolog.h"

#include "io/blockdeflater.h"
#include "io/gzipreader.h"

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
// A line read is given at most this much room at a time.
constexpr qint64 MaximumChunk = qint64(1) << 30;

// Reading and writing at once is not possible through one gzip stream.
bool refusesReadWrite(QIODevice::OpenMode mode)
{
    if ((mode & QIODevice::ReadWrite) != QIODevice::ReadWrite)
        return false;
    qCCritical(lcIo, "GZipFile.open does not support ReadWrite.");
    return true;
}

} // namespace

struct GZipFile::Private
{
    // Reading: the member reader. Writing: the block deflater, which uses several processors.
    std::unique_ptr<GZipReader> reader;
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
    d->reader.reset(new GZipReader(handle(), d->bufferSize));
    // note: the uncompressed size of gzip content is not known before it has been inflated once;
    // size() learns it when first asked, and a read that runs to the clean end learns it for free.
    d->uncompressedSize = d->reader->direct() ? QFile::size() : -1;
    updatePosition();
    QIODevice::seek(0);
    return true;
}

qint64 GZipFile::measureSize() const
{
    if (d->uncompressedSize >= 0 || !d->reader)
        return d->uncompressedSize;
    GZipReader &reader = *d->reader;
    const qint64 here = reader.position();
    QByteArray scratch(d->bufferSize, Qt::Uninitialized);
    // Stops at the end and at damage; the size is then what came before it.
    while (reader.read(scratch.data(), scratch.size()) > 0) {
    }
    const qint64 total = reader.produced();
    reader.seek(here);
    d->uncompressedSize = total;
    return total;
}

void GZipFile::close()
{
    QString failure;
    d->reader.reset();
    if (d->deflater) {
        if (!d->deflater->finish())
            failure = writeFailure();
        d->deflater.reset();
    }
    d->uncompressedSize = -1;
    d->streamPosition = 0;
    d->compressedPosition = 0;
    d->appendBase = 0;
    QFile::close();
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
        d->streamPosition = d->reader ? d->reader->position() : 0;
    d->compressedPosition = d->reader ? d->reader->compressedPosition() : 0;
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
    // A progress bar divides the position by this, so it never falls behind the position.
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
    if (!d->reader) {
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
        if (streamTarget < 0 || !d->reader->seek(streamTarget)) {
            updatePosition();
            return false;
        }
        updatePosition();
    }
    return QIODevice::seek(target);
}

bool GZipFile::reset()
{
    if (!d->reader)
        return false;
    // Drop what QIODevice read ahead before the stream starts again.
    QIODevice::seek(streamPosition());
    const bool rewound = d->reader->rewind();
    updatePosition();
    return rewound && QIODevice::seek(0);
}

bool GZipFile::atEnd() const
{
    // note: size() may be the larger size on disk, which would keep QFile's answer false
    // behind the last byte of a small or incompressible content.
    if (!d->reader || !isReadable())
        return QFile::atEnd();
    if (d->uncompressedSize >= 0)
        return QIODevice::pos() >= d->uncompressedSize;
    // Bytes read ahead wait in QIODevice's buffer; otherwise the stream shows whether one follows.
    if (QIODevice::pos() < streamPosition())
        return false;
    return d->reader->atEnd();
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
    // Nothing is pending in a read.
    return false;
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
    if (d->reader && isReadable())
        return d->reader->direct() ? 0 : -1;
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
    if (!d->reader)
        return;
    const qint64 logical = QIODevice::pos();
    if (isReadable() && logical > 0 && logical == streamPosition() && d->reader->unread(c)) {
        updatePosition();
        QIODevice::seek(logical - 1);
        return;
    }
    // Bytes read ahead lie in QIODevice's buffer, in front of the stream: push back there.
    QFile::ungetChar(c);
}

qint64 GZipFile::readData(char *data, qint64 maxSize)
{
    if (!d->reader) {
        setErrorString(tr("No gzip stream attached"));
        return -1;
    }
    if (maxSize <= 0)
        return maxSize == 0 ? 0 : -1;
    const qint64 got = d->reader->read(data, maxSize);
    updatePosition();
    if (d->reader->state() == GZipReader::Damaged)
        setErrorString(d->reader->message());
    else if (d->reader->state() == GZipReader::Ended && d->uncompressedSize < 0)
        d->uncompressedSize = d->reader->produced();
    return got;
}

qint64 GZipFile::readLineData(char *data, qint64 maxSize)
{
    if (!d->reader || maxSize < 0)
        return -1;
    const qint64 length = d->reader->readLine(data, std::min(maxSize + 1, MaximumChunk));
    updatePosition();
    return length;
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
