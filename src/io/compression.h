#pragma once

#include <QIODevice>

// A zlib stream in front of another device: bytes written here reach it deflated (gzip framing
// by default, zlib framing on request, unchanged at level 0); bytes read here come from it
// inflated, zlib or gzip detected, and plain data passes through unchanged. Positions count
// uncompressed bytes; seeking is emulated by restarting or skipping through the stream. The
// other device is this device's QObject parent and stays open when this device closes.
class CompressIOn : public QIODevice
{
    Q_OBJECT

public:
    // Uses `device` as parent and other device; when it is already open for reading or for
    // writing, this device opens at once in the same mode.
    explicit CompressIOn(QIODevice *device);
    // Closes this device when open (which ends a deflate stream); the other device stays open.
    ~CompressIOn() override;

    // Closes this device, then takes `device`; opens at once when `device` is open for reading
    // or for writing. A device open read-write is closed and refused
    // ("CompressIOn.setDevice closing ReadWrite mode").
    void setDevice(QIODevice *device);
    QIODevice *device() const;

    // Writing: gzip framing when true, zlib framing when false; applies to the next deflate
    // stream. After a read has started: whether a gzip header was found.
    bool gzipFormat() const;
    void setGzipFormat(bool gzip);
    // Reading: -1 while inflating, 0 in pass-through. Otherwise the stored level.
    int compressionLevel() const;
    int strategy() const;
    // Stores the level (clamped to -1..9) and the zlib strategy, and applies both to a running
    // deflate stream.
    void setCompression(int level, int strategy);

    // ReadOnly or WriteOnly, not both; opens the other device too when needed. False with the
    // error string set when the other device or zlib cannot start.
    bool open(OpenMode mode) override;
    void close() override;

    qint64 pos() const override;
    qint64 size() const override;
    // Backwards: restarts the stream (a written file is emptied and rewritten up to `pos` with
    // zero bytes). Forwards: reads and drops, or writes zero bytes. False when the target cannot
    // be reached.
    bool seek(qint64 pos) override;
    bool reset() override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool canReadLine() const override;
    // The other device's answer.
    bool isSequential() const override;

protected:
    // -1 with the error string set when the other device fails, the data is damaged or a
    // stream on a random-access device ends early; 0 once the stream has ended.
    qint64 readData(char *data, qint64 maxSize) override;
    // -1 with the error string set when zlib or the other device fails.
    qint64 writeData(const char *data, qint64 len) override;

private:
    struct Private;

    bool startStream();
    bool isStarted() const;
    qint64 passThroughRead(char *data, qint64 maxSize);
    bool deflateInto(const char *data, qint64 length, int flush);
    bool finishStream();
    bool writeOut(qint64 length);

    Private *d;
};
