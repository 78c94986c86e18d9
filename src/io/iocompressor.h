#pragma once

#include <QIODevice>

// A gzip stream in front of another device, in one direction: bytes written here reach the
// other device deflated with gzip framing, bytes read here come from it inflated. Opening opens
// the other device and closing closes it; the other device is never deleted. Sequential.
class IOCompressor : public QIODevice
{
    Q_OBJECT

public:
    // `compressionLevel` is zlib's (-1 to 9); `bufferSize` bytes pass between zlib and the
    // other device at a time. Warns when the linked zlib is older than 1.2.
    IOCompressor(QIODevice *device, int compressionLevel, int bufferSize, QObject *parent = nullptr);
    // Closes this device when open, which ends the gzip data.
    ~IOCompressor() override;

    // ReadOnly or WriteOnly, not both; refuses when this or the other device is already open
    // (warning "IOCompressor::open: ..."). Opens the other device with the same mode; false with
    // the error string set when that or zlib fails.
    bool open(OpenMode mode) override;
    // Ends the gzip data when writing, then closes the other device and this one.
    void close() override;
    // 1 while something may be read (this is no count), else 0.
    qint64 bytesAvailable() const override;
    bool isSequential() const override;

protected:
    // 0 at the end of a complete stream; -1 with the error string set when the other device
    // fails, the data is damaged or a stream on a random-access device ends early.
    qint64 readData(char *data, qint64 maxSize) override;
    // `len`, or -1 with the error string set when zlib or the other device fails.
    qint64 writeData(const char *data, qint64 len) override;

private:
    struct Private;

    bool flushStream(int flushMode);

    Private *d;
};
