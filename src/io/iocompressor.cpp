#include "io/iocompressor.h"
#include "io/iolog.h"

#include <QByteArray>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr char StreamVersion[] = "1.2.5";
constexpr int GzipWindowBits = 31;
constexpr int MemoryLevel = 8;
// zlib counts lengths in unsigned ints; larger requests go in pieces.
constexpr qint64 MaximumChunk = qint64(1) << 30;

bool isOlderThan12(const char *version)
{
    return !version || std::strlen(version) <= 2 || version[0] == '0' ||
           (version[0] == '1' && (version[2] == '0' || version[2] == '1'));
}

} // namespace

struct IOCompressor::Private
{
    QIODevice *device = nullptr;
    int level = Z_DEFAULT_COMPRESSION;
    QByteArray buffer;
    z_stream stream = {};
    // The inflate stream has reached its end; reads give 0 from then on.
    bool ended = false;
};

IOCompressor::IOCompressor(QIODevice *device, int compressionLevel, int bufferSize, QObject *parent)
    : QIODevice(parent)
    , d(new Private)
{
    d->device = device;
    d->level = compressionLevel;
    const char *version = zlibVersion();
    if (isOlderThan12(version))
        qCCritical(lcIo, "IOCompressor: zlib 1.2.x or higher is required. Current version: %s.",
                   version ? version : "");
    d->buffer.resize(std::max(bufferSize, 1));
}

IOCompressor::~IOCompressor()
{
    close();
    delete d;
}

bool IOCompressor::open(OpenMode mode)
{
    if (isOpen()) {
        qCWarning(lcIo, "IOCompressor::open: device already open");
        return false;
    }
    const bool reading = mode & ReadOnly;
    if (reading == bool(mode & WriteOnly)) {
        qCWarning(lcIo, "IOCompressor::open: can only open in ReadOnly or WriteOnly mode");
        return false;
    }
    if (!d->device)
        return false;
    if (d->device->isOpen()) {
        qCWarning(lcIo, "IOCompressor::open: underlying device is already open");
        return false;
    }
    if (!d->device->open(mode)) {
        setErrorString(tr("Error opening underlying device: %1").arg(d->device->errorString()));
        return false;
    }

    z_stream &s = d->stream;
    s = z_stream();
    d->ended = false;
    int result = Z_OK;
    if (reading) {
        s.next_in = reinterpret_cast<Bytef *>(d->buffer.data());
        s.avail_in = 0;
        result = inflateInit2_(&s, GzipWindowBits, StreamVersion, int(sizeof(z_stream)));
    } else {
        result = deflateInit2_(&s, d->level, Z_DEFLATED, GzipWindowBits, MemoryLevel, Z_DEFAULT_STRATEGY,
                               StreamVersion, int(sizeof(z_stream)));
    }
    if (result != Z_OK) {
        setErrorString(
            tr("Error initializing zlib: Error Code %1: %2").arg(result).arg(QLatin1String(zError(result))));
        return false;
    }
    return QIODevice::open(mode);
}

void IOCompressor::close()
{
    if (!isOpen())
        return;
    bool finished = true;
    if (openMode() & WriteOnly) {
        d->stream.next_in = nullptr;
        d->stream.avail_in = 0;
        finished = flushStream(Z_FINISH);
        deflateEnd(&d->stream);
    } else {
        inflateEnd(&d->stream);
    }
    const QString error = errorString();
    d->device->close();
    QIODevice::close();
    if (!finished)
        setErrorString(error);
}

qint64 IOCompressor::bytesAvailable() const
{
    if (!isOpen() || (openMode() & WriteOnly))
        return 0;
    if (QIODevice::bytesAvailable() > 0 || d->device->bytesAvailable() > 0 || d->stream.avail_in > 0)
        return 1;
    return 0;
}

bool IOCompressor::isSequential() const
{
    return true;
}

qint64 IOCompressor::readData(char *data, qint64 maxSize)
{
    if (maxSize < 0)
        return -1;
    z_stream &s = d->stream;
    s.next_out = reinterpret_cast<Bytef *>(data);
    s.avail_out = uInt(std::min(maxSize, MaximumChunk));
    const uInt room = s.avail_out;
    for (;;) {
        if (s.avail_in == 0) {
            const qint64 got = d->device->read(d->buffer.data(), d->buffer.size());
            if (got < 0) {
                setErrorString(tr("Error reading from underlying device: %1").arg(d->device->errorString()));
                return -1;
            }
            if (got == 0) {
                const qint64 produced = qint64(room - s.avail_out);
                if (produced > 0 || d->ended || s.total_in == 0 || d->device->isSequential())
                    return produced;
                setErrorString(tr("Unexpected end of compressed data"));
                return -1;
            }
            s.next_in = reinterpret_cast<Bytef *>(d->buffer.data());
            s.avail_in = uInt(got);
        }
        const int result = inflate(&s, Z_SYNC_FLUSH);
        if (result == Z_NEED_DICT || result == Z_DATA_ERROR || result == Z_MEM_ERROR ||
            result == Z_STREAM_ERROR) {
            setErrorString(tr("Error compressing with zlib: Error Code %1: %2")
                               .arg(result)
                               .arg(QLatin1String(zError(result))));
            return -1;
        }
        if (result == Z_BUF_ERROR)
            return qint64(room - s.avail_out);
        if (result == Z_STREAM_END)
            d->ended = true;
        if (result == Z_STREAM_END || s.avail_out == 0)
            return qint64(room - s.avail_out);
    }
}

qint64 IOCompressor::writeData(const char *data, qint64 len)
{
    if (len < 0)
        return -1;
    qint64 done = 0;
    while (done < len) {
        const qint64 piece = std::min(len - done, MaximumChunk);
        d->stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data + done));
        d->stream.avail_in = uInt(piece);
        if (!flushStream(Z_NO_FLUSH))
            return -1;
        done += piece;
    }
    return len;
}

bool IOCompressor::flushStream(int flushMode)
{
    z_stream &s = d->stream;
    do {
        s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
        s.avail_out = uInt(d->buffer.size());
        const int result = deflate(&s, flushMode);
        if (result == Z_STREAM_ERROR) {
            setErrorString(tr("Error compressing with zlib: Error Code %1: %2")
                               .arg(result)
                               .arg(QLatin1String(zError(result))));
            return false;
        }
        const qint64 produced = d->buffer.size() - qint64(s.avail_out);
        if (produced > 0 && d->device->write(d->buffer.constData(), produced) != produced) {
            setErrorString(tr("Error writing to underlying device: %1").arg(d->device->errorString()));
            return false;
        }
    } while (s.avail_out == 0);
    return true;
}
