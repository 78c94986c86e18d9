// The stream form of the cipher settings, then the rest of the input deciphered with them: the
// settings of an enciphered vertex block come from the file, so both are untrusted.

#include "fuzzsupport.h"

#include "crypto/qryptocipher.h"

#include <QBuffer>
#include <QDataStream>

using quarnfuzz::require;

namespace {

constexpr quint16 MaxIterations = 8;

// The families and modes the program offers; each must give back what it enciphered.
bool isOffered(const QryptoCipher &cipher)
{
    for (int type = QryptoCipher::Aes128; type <= QryptoCipher::Rc5; ++type) {
        for (int mode = QryptoCipher::Ecb; mode <= QryptoCipher::Ofb; ++mode) {
            const QByteArray name =
                QryptoCipher::algorithmName(QryptoCipher::Type(type), QryptoCipher::Mode(mode));
            if (QryptoCipher::nid(QryptoCipher::Type(type), QryptoCipher::Mode(mode)) == cipher.cipher() &&
                QryptoCipher::isSupported(name))
                return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input = quarnfuzz::bytes(data, size);
    QDataStream in(input);
    QryptoCipher cipher;
    in >> cipher;
    if (in.status() != QDataStream::Ok)
        return 0;
    cipher.setKey(QByteArrayLiteral("fixture key"));
    if (!cipher.isValid())
        return 0;
    require(cipher.iterations() >= 1, "QryptoCipher iteration count 0");

    // The stream form written back reads as the same settings.
    QByteArray written;
    {
        QDataStream out(&written, QIODevice::WriteOnly);
        out << cipher;
    }
    QDataStream again(written);
    QryptoCipher copy;
    again >> copy;
    require(copy.cipher() == cipher.cipher() && copy.flags() == cipher.flags() &&
                copy.digest() == (cipher.digest() & 0xffff) && copy.salt() == cipher.salt() &&
                copy.iterations() == cipher.iterations(),
            "QryptoCipher stream form does not read back");

    // note: the count only repeats the key derivation; past a few rounds it costs time and
    // reaches no other code, so the runs below keep the fuzzer's pace.
    if (cipher.iterations() > MaxIterations)
        cipher.setIterations(MaxIterations);

    const int offset = int(in.device()->pos());
    const QByteArray sealed = input.mid(offset);

    // The array run and the device run give the same bytes.
    const QByteArray plain = cipher.decrypt(sealed);
    QByteArray inPlace = sealed;
    const int inPlaceSize = cipher.decrypt(inPlace);
    require(inPlaceSize == inPlace.size() && inPlace == plain, "QryptoCipher in-place run differs");
    QBuffer source;
    source.setData(sealed);
    QBuffer sink;
    const qint64 streamed = cipher.decrypt(&sink, &source);
    require(streamed >= 0, "QryptoCipher device run refused valid settings");
    require(sink.data() == plain && streamed == plain.size(), "QryptoCipher device run differs");

    // A run may fail to start (a digest the derivation cannot use gives no key): then there is
    // nothing to compare.
    if (isOffered(cipher)) {
        const QByteArray sealedAgain = cipher.encrypt(sealed);
        if (!sealedAgain.isEmpty() || sealed.isEmpty())
            require(cipher.decrypt(sealedAgain) == sealed,
                    "QryptoCipher does not decipher what it enciphered");
    }
    return 0;
}
