// What an enciphered vertex block holds once deciphered, and the strips behind it. Anyone with the
// program's key can seal any content, but the fuzzer cannot forge a cipher text: so the input is
// the plain content, and the target seals it into a version-7 file as the writer would.
//
// Input: a 16-bit little-endian length n, n bytes of block content (qCompress form of the vertex
// list), then the strip section.

#include "qrnfuzz.h"

#include "crypto/qryptocipher.h"

#include <QBuffer>
#include <QDataStream>

#include <algorithm>

namespace {

// note: the writer derives its key in 1365 rounds; the count changes no path of the reader, so
// two rounds keep the fuzzer's pace.
constexpr quint16 SealIterations = 2;
constexpr qint64 SealSalt = 0x0123456789abcdefLL;

QByteArray sealedFile(const QByteArray &content, const QByteArray &strips)
{
    QryptoCipher cipher(QryptoCipher::Blowfish, quarnfuzz::SeedKey, QryptoCipher::Cbc);
    cipher.setFlags(QryptoCipher::Salt | QryptoCipher::Iterations | QryptoCipher::Pbkdf2);
    cipher.setSalt(SealSalt);
    cipher.setIterations(SealIterations);
    const QByteArray sealed = cipher.encrypt(content);

    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("QRNK", 4);
    out << quint32(7);
    const QByteArray text = QByteArray("sealed").leftJustified(80, '\0');
    out.writeRawData(text.constData(), text.size());
    out << quint16(cipher.cipher()) << quint16(cipher.flags()) << quint16(cipher.digest());
    out << qint64(cipher.salt()) << quint16(cipher.iterations());
    out << sealed;
    out.writeRawData(strips.constData(), strips.size());
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t length = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    const QByteArray content = quarnfuzz::bytes(data + 2, length);
    const QByteArray strips = quarnfuzz::bytes(data + 2 + length, size - 2 - length);
    QBuffer buffer;
    buffer.setData(sealedFile(content, strips));
    if (quarnfuzz::readQrn(&buffer) == geom::QrnReader::Done)
        quarnfuzz::requireEndChecked(sealedFile(content, strips));
    return 0;
}
