#include "io/compression.h"
#include "io/iolog.h"

#include <QByteArray>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int MinimumBufferSize = 4096;
constexpr int DefaultBufferSize = 65536; // the default stream buffer, as GZipFile's
constexpr int MaximumBufferSize = 1048576;
constexpr int TransferBufferSize =
    std::min(std::max(MinimumBufferSize, DefaultBufferSize), MaximumBufferSize);
constexpr char StreamVersion[] = "1.2.5";
constexpr int DetectFramingWindowBits = 47; // 15-bit window, zlib or gzip framing detected
constexpr int GzipWindowBits = 31;
constexpr int ZlibWindowBits = 15;
constexpr int MemoryLevel = 8;
constexpr int DeflateMethod = Z_DEFLATED;
// zlib counts lengths in unsigned ints; larger requests go in pieces.
constexpr qint64 MaximumChunk = qint64(1) << 30;
// deflateParams asks to be called again when its flush did not fit; a few rounds always do.
constexpr int ParameterRounds = 8;

QString zlibError(const z_stream &stream, int code)
{
    return QString::fromLatin1(stream.msg ? stream.msg : zError(code));
}

} // namespace

struct CompressIOn::Private
{
    QIODevice *device = nullptr;
    QByteArray buffer;
    bool gzip = true;
    int level = Z_DEFAULT_COMPRESSION;
    int strategy = Z_DEFAULT_STRATEGY;
    z_stream stream = {};
    // inflate fills the header record while it reads, so it lives as long as the stream.
    gz_header header = {};
    bool headerRequested = false;
    // The inflate stream has reached its end; reads give 0 from then on.
    bool ended = false;
};

CompressIOn::CompressIOn(QIODevice *device)
    : QIODevice(device)
    , d(new Private)
{
    setDevice(device);
}

CompressIOn::~CompressIOn()
{
    if (isOpen())
        close();
    delete d;
}

void CompressIOn::setDevice(QIODevice *device)
{
    if (isOpen())
        close();
    d->device = device;
    if (!device || !device->isOpen())
        return;
    if ((device->openMode() & ReadWrite) == ReadWrite) {
        qCCritical(lcIo, "CompressIOn.setDevice closing ReadWrite mode");
        device->close();
        return;
    }
    // note: unbuffered, so that QIODevice's position is always the stream's and seeking needs
    // no knowledge of bytes read ahead.
    QIODevice::open(device->openMode() | Unbuffered);
    if (!startStream()) {
        const QString error = errorString();
        close();
        setErrorString(error);
    }
}

QIODevice *CompressIOn::device() const
{
    return d->device;
}

bool CompressIOn::gzipFormat() const
{
    return d->gzip;
}

void CompressIOn::setGzipFormat(bool gzip)
{
    d->gzip = gzip;
}

int CompressIOn::compressionLevel() const
{
    if (isOpen() && isReadable())
        return isStarted() ? Z_DEFAULT_COMPRESSION : 0;
    return d->level;
}

int CompressIOn::strategy() const
{
    return d->strategy;
}

void CompressIOn::setCompression(int level, int strategy)
{
    d->level = level > 9 ? 9 : level < 0 ? Z_DEFAULT_COMPRESSION : level;
    d->strategy = strategy;
    if (!isOpen() || !isWritable() || !isStarted())
        return;
    // deflateParams flushes what the old parameters still hold into the transfer buffer;
    // those bytes must reach the device before the buffer is used again.
    z_stream &s = d->stream;
    for (int round = 0; round < ParameterRounds; ++round) {
        s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
        s.avail_out = uInt(d->buffer.size());
        const int result = deflateParams(&s, d->level, d->strategy);
        const qint64 produced = d->buffer.size() - qint64(s.avail_out);
        if (!writeOut(produced) || result != Z_BUF_ERROR || produced == 0)
            break;
    }
    s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
    s.avail_out = uInt(d->buffer.size());
}

bool CompressIOn::open(OpenMode mode)
{
    if ((mode & ReadWrite) == ReadWrite) {
        qCCritical(lcIo, "CompressIOn.open can only open in ReadOnly or WriteOnly mode");
        return false;
    }
    if (!d->device || !(mode & ReadWrite))
        return false;
    if (!QIODevice::open((mode & ~OpenMode(Append)) | Unbuffered))
        return false;
    QIODevice *device = d->device;
    if (device->isOpen() && !(device->openMode() & openMode() & ReadWrite))
        device->close();
    if (!device->isOpen() && !device->open(mode)) {
        setErrorString(QString::fromLatin1(zError(Z_ERRNO)));
        close();
        return false;
    }
    if (!startStream()) {
        const QString error = errorString();
        close();
        setErrorString(error);
        return false;
    }
    return true;
}

bool CompressIOn::startStream()
{
    z_stream &s = d->stream;
    d->buffer.resize(TransferBufferSize);
    s = z_stream();
    d->ended = false;
    d->headerRequested = false;
    int result = Z_OK;
    if (openMode() & ReadOnly) {
        s.next_in = reinterpret_cast<Bytef *>(d->buffer.data());
        s.avail_in = 0;
        result = inflateInit2_(&s, DetectFramingWindowBits, StreamVersion, int(sizeof(z_stream)));
    } else if (d->level != 0) {
        s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
        s.avail_out = uInt(d->buffer.size());
        result = deflateInit2_(&s, d->level, DeflateMethod, d->gzip ? GzipWindowBits : ZlibWindowBits,
                               MemoryLevel, d->strategy, StreamVersion, int(sizeof(z_stream)));
    }
    if (result != Z_OK) {
        setErrorString(zlibError(s, result));
        s.state = nullptr;
        return false;
    }
    return true;
}

bool CompressIOn::isStarted() const
{
    return d->stream.state != nullptr;
}

void CompressIOn::close()
{
    z_stream &s = d->stream;
    bool finished = true;
    if (isStarted()) {
        if (openMode() & ReadOnly) {
            inflateEnd(&s);
        } else {
            // A device that was given no bytes writes nothing at all, not even a header.
            if (s.total_in != 0 && d->device && d->device->isWritable())
                finished = finishStream();
            deflateEnd(&s);
        }
    }
    s.state = nullptr;
    s.next_in = nullptr;
    s.avail_in = 0;
    s.next_out = nullptr;
    s.avail_out = 0;
    d->buffer.clear();
    const QString error = errorString();
    QIODevice::close();
    if (!finished)
        setErrorString(error);
}

qint64 CompressIOn::pos() const
{
    const z_stream &s = d->stream;
    if (isStarted())
        return qint64((openMode() & ReadOnly) ? s.total_out : s.total_in);
    if (!d->device)
        return 0;
    // Input read ahead of a pass-through read has not been handed out yet.
    return d->device->pos() - ((openMode() & ReadOnly) ? qint64(s.avail_in) : 0);
}

qint64 CompressIOn::size() const
{
    if (isStarted() || !d->device)
        return pos();
    return d->device->size();
}

bool CompressIOn::reset()
{
    z_stream &s = d->stream;
    if (isStarted()) {
        if (openMode() & ReadOnly) {
            inflateReset(&s);
        } else {
            if (s.total_in != 0)
                finishStream();
            deflateReset(&s);
        }
        s.total_in = 0;
        s.total_out = 0;
        d->ended = false;
        d->headerRequested = false;
    }
    s.next_in = reinterpret_cast<Bytef *>(d->buffer.data());
    s.avail_in = 0;
    s.avail_out = 0;
    if (d->device && !d->device->reset())
        return false;
    return QIODevice::seek(0);
}

bool CompressIOn::seek(qint64 target)
{
    if (!d->device || !isOpen() || target < 0)
        return false;
    const qint64 distance = target - pos();
    if (distance < 0) {
        if (isReadable() && !d->device->isSequential()) {
            if (!reset())
                return false;
        } else {
            const OpenMode mode = openMode() & ~OpenMode(Unbuffered);
            close();
            d->device->close();
            if (!open(mode))
                return false;
        }
        return seek(target);
    }

    z_stream &s = d->stream;
    if (!isStarted()) {
        if (isReadable() && distance < qint64(s.avail_in)) {
            s.next_in += distance;
            s.avail_in -= uInt(distance);
        } else {
            s.avail_in = 0;
            if (!d->device->seek(target))
                return false;
        }
        return QIODevice::seek(target);
    }

    QByteArray scratch(int(std::min<qint64>(distance, d->buffer.size())), '\0');
    qint64 left = distance;
    while (left > 0) {
        const qint64 piece = std::min<qint64>(left, scratch.size());
        const qint64 moved =
            isReadable() ? readData(scratch.data(), piece) : writeData(scratch.constData(), piece);
        if (moved <= 0)
            break;
        left -= moved;
    }
    if (left > 0)
        return false;
    return QIODevice::seek(target);
}

qint64 CompressIOn::bytesAvailable() const
{
    if (!isOpen() || !isReadable())
        return 0;
    const qint64 waiting = qint64(d->stream.avail_in) + (d->device ? d->device->bytesAvailable() : 0);
    if (!isStarted())
        return waiting;
    if (d->ended)
        return 0;
    // note: inflate may still hold output when all input is consumed, so a stream that has
    // begun and not ended counts as having something to read; atEnd() relies on this.
    return waiting > 0 ? waiting : (d->stream.total_in > 0 ? 1 : 0);
}

qint64 CompressIOn::bytesToWrite() const
{
    if (isStarted())
        return isWritable() ? qint64(d->stream.avail_out) : 0;
    return QIODevice::bytesToWrite() + (d->device ? d->device->bytesToWrite() : 0);
}

bool CompressIOn::canReadLine() const
{
    if (QIODevice::canReadLine())
        return true;
    return d->device && d->device->canReadLine();
}

bool CompressIOn::isSequential() const
{
    return d->device ? d->device->isSequential() : QIODevice::isSequential();
}

qint64 CompressIOn::passThroughRead(char *data, qint64 maxSize)
{
    z_stream &s = d->stream;
    if (s.avail_in == 0)
        return d->device->read(data, maxSize);
    const qint64 copied = std::min<qint64>(s.avail_in, maxSize);
    std::memcpy(data, s.next_in, size_t(copied));
    s.next_in += copied;
    s.avail_in -= uInt(copied);
    if (copied == maxSize)
        return copied;
    const qint64 more = d->device->read(data + copied, maxSize - copied);
    return more > 0 ? copied + more : copied;
}

qint64 CompressIOn::readData(char *data, qint64 maxSize)
{
    if (maxSize < 0 || !d->device)
        return -1;
    if (!isStarted())
        return passThroughRead(data, maxSize);
    if (d->ended || maxSize == 0)
        return 0;

    z_stream &s = d->stream;
    const uLong before = s.total_out;
    s.next_out = reinterpret_cast<Bytef *>(data);
    s.avail_out = uInt(std::min(maxSize, MaximumChunk));
    bool drained = false;
    for (;;) {
        if (s.avail_in == 0) {
            const qint64 got = d->device->read(d->buffer.data(), d->buffer.size());
            if (got < 0) {
                setErrorString(d->device->errorString());
                return -1;
            }
            if (got == 0) {
                drained = true;
                break;
            }
            s.next_in = reinterpret_cast<Bytef *>(d->buffer.data());
            s.avail_in = uInt(got);
        }
        const bool atStart = s.total_in == 0;
        Bytef *const waitingFrom = s.next_in;
        const uInt waiting = s.avail_in;
        if (atStart) {
            d->header = gz_header();
            if (inflateGetHeader(&s, &d->header) != Z_OK) {
                setErrorString(zlibError(s, Z_STREAM_ERROR));
                return -1;
            }
            d->headerRequested = true;
        }
        const int result = inflate(&s, Z_SYNC_FLUSH);
        if (atStart && result == Z_DATA_ERROR) {
            // Neither zlib nor gzip: hand the bytes read so far to the pass-through.
            inflateEnd(&s);
            s.state = nullptr;
            s.next_in = waitingFrom;
            s.avail_in = waiting;
            s.total_in = 0;
            d->gzip = false;
            return passThroughRead(data, maxSize);
        }
        if (result == Z_NEED_DICT || (result < 0 && result != Z_BUF_ERROR)) {
            setErrorString(zlibError(s, result == Z_NEED_DICT ? Z_DATA_ERROR : result));
            return -1;
        }
        if (d->headerRequested)
            d->gzip = d->header.done == 1;
        if (result == Z_STREAM_END) {
            // note: bytes behind the end of the stream are not ours; stopping here is what
            // keeps a later call from spinning on input that inflate will never take.
            d->ended = true;
            break;
        }
        if (result == Z_BUF_ERROR || s.avail_out == 0)
            break;
    }
    const qint64 produced = qint64(s.total_out - before);
    if (produced == 0 && drained && s.total_in > 0 && !d->device->isSequential()) {
        setErrorString(tr("Unexpected end of compressed data"));
        return -1;
    }
    return produced;
}

qint64 CompressIOn::writeData(const char *data, qint64 len)
{
    if (len < 0 || !d->device)
        return -1;
    if (!isStarted())
        return d->device->write(data, len);
    if (len == 0)
        return 0;
    const uLong before = d->stream.total_in;
    if (!deflateInto(data, len, Z_NO_FLUSH))
        return -1;
    return qint64(d->stream.total_in - before);
}

bool CompressIOn::finishStream()
{
    return deflateInto(nullptr, 0, Z_FINISH);
}

bool CompressIOn::deflateInto(const char *data, qint64 length, int flush)
{
    z_stream &s = d->stream;
    bool intact = true;
    do {
        const qint64 piece = std::min(length, MaximumChunk);
        s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        s.avail_in = uInt(piece);
        do {
            s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
            s.avail_out = uInt(d->buffer.size());
            const int result = deflate(&s, flush);
            if (result < 0 && result != Z_BUF_ERROR) {
                setErrorString(zlibError(s, result));
                intact = false;
                break;
            }
            if (!writeOut(d->buffer.size() - qint64(s.avail_out))) {
                intact = false;
                break;
            }
        } while (s.avail_out == 0);
        data += piece;
        length -= piece;
    } while (intact && length > 0);
    s.next_out = reinterpret_cast<Bytef *>(d->buffer.data());
    s.avail_out = uInt(d->buffer.size());
    return intact;
}

bool CompressIOn::writeOut(qint64 length)
{
    if (length <= 0)
        return true;
    if (d->device->write(d->buffer.constData(), length) == length)
        return true;
    const QString error = d->device->errorString();
    setErrorString(error.isEmpty() ? QString::fromLatin1(zError(Z_ERRNO)) : error);
    return false;
}
