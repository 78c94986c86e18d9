#include "crypto/qryptocipher.h"

#include <QBuffer>
#include <QDataStream>
#include <QTemporaryFile>
#include <QtEndian>
#include <QtGlobal>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <QLoggingCategory>
#include <algorithm>
#include <climits>

Q_LOGGING_CATEGORY(lcCrypto, "quarn.crypto")

namespace {

constexpr int ChunkSize = 32768;
constexpr int MaxKeyLength = 64;
constexpr int IvRoom = 16;
constexpr int FinalBlockRoom = 32;
constexpr int SaltBytes = 8;
constexpr int DefaultDigest = NID_sha1;
constexpr quint16 DefaultIterations = 1000;

// OpenSSL 3 keeps Blowfish, CAST5, DES and RC2 in the "legacy" provider. Loading any provider
// by hand stops the implicit load of "default", so both are loaded, once, before the first
// cipher is looked up.
class CryptoLibrary
{
public:
    CryptoLibrary()
        : m_legacy(OSSL_PROVIDER_load(nullptr, "legacy"))
        , m_default(OSSL_PROVIDER_load(nullptr, "default"))
    {
        if (!m_legacy)
            qCWarning(lcCrypto, "QryptoCipher.initialise cannot load the \"legacy\" provider.");
        if (!m_default)
            qCWarning(lcCrypto, "QryptoCipher.initialise cannot load the \"default\" provider.");
    }

    ~CryptoLibrary()
    {
        if (m_default)
            OSSL_PROVIDER_unload(m_default);
        if (m_legacy)
            OSSL_PROVIDER_unload(m_legacy);
    }

    CryptoLibrary(const CryptoLibrary &) = delete;
    CryptoLibrary &operator=(const CryptoLibrary &) = delete;

private:
    OSSL_PROVIDER *m_legacy;
    OSSL_PROVIDER *m_default;
};

void initialiseLibrary()
{
    static CryptoLibrary library;
}

const EVP_CIPHER *cipherByName(const QByteArray &name)
{
    initialiseLibrary();
    return name.isEmpty() ? nullptr : EVP_get_cipherbyname(name.constData());
}

const EVP_MD *digestByNid(int nid)
{
    initialiseLibrary();
    const char *name = OBJ_nid2sn(nid);
    return name ? EVP_get_digestbyname(name) : nullptr;
}

// The state of one run: the library context and the derived key and IV. A run that fails to
// start forgets its output device, which turns every later step into a no-op.
class QryptoCipherContext
{
public:
    QryptoCipherContext(const EVP_CIPHER *cipher, const EVP_MD *digest, const QByteArray &key, qint64 salt,
                        quint16 iterations, QryptoCipher::Flags flags, QIODevice *out, bool enc)
        : m_out(out)
        , m_ctx(EVP_CIPHER_CTX_new())
    {
        if (!createKey(cipher, digest, key, salt, iterations, flags)) {
            qCCritical(lcCrypto, "QryptoCipherContext.createKey() failed.");
            m_out = nullptr;
        } else if (!m_ctx || EVP_CipherInit_ex(m_ctx, cipher, nullptr, m_keyIv, m_iv, enc ? 1 : 0) != 1) {
            qCCritical(lcCrypto, "QryptoCipherContext() failed.");
            m_out = nullptr;
        }
        OPENSSL_cleanse(m_keyIv, sizeof m_keyIv);
    }

    ~QryptoCipherContext() { EVP_CIPHER_CTX_free(m_ctx); }

    QryptoCipherContext(const QryptoCipherContext &) = delete;
    QryptoCipherContext &operator=(const QryptoCipherContext &) = delete;

    bool isRunning() const { return m_out != nullptr; }
    // False once a library step or a write to the output device failed.
    bool isIntact() const { return m_intact; }

    // Feeds `length` bytes to the cipher; returns the bytes the output device accepted.
    qint64 update(const char *data, qint64 length)
    {
        qint64 written = 0;
        while (length > 0 && m_out && m_intact) {
            const int chunk = int(std::min<qint64>(length, ChunkSize));
            int produced = 0;
            if (EVP_CipherUpdate(m_ctx, m_output, &produced, reinterpret_cast<const unsigned char *>(data),
                                 chunk) != 1) {
                m_intact = false;
                break;
            }
            written += write(m_output, produced);
            data += chunk;
            length -= chunk;
        }
        return written;
    }

    // Writes the final block; returns the bytes the output device accepted. A failed final
    // step (bad padding when deciphering) writes nothing and logs nothing.
    qint64 finish()
    {
        if (!m_out)
            return 0;
        unsigned char block[FinalBlockRoom];
        int produced = 0;
        if (EVP_CipherFinal_ex(m_ctx, block, &produced) != 1) {
            m_intact = false;
            return 0;
        }
        return write(block, produced);
    }

private:
    bool createKey(const EVP_CIPHER *cipher, const EVP_MD *digest, const QByteArray &key, qint64 salt,
                   quint16 iterations, QryptoCipher::Flags flags)
    {
        const int keyLength = EVP_CIPHER_key_length(cipher);
        if (keyLength <= 0 || keyLength > MaxKeyLength)
            return false;
        m_iv = m_keyIv + keyLength;
        // note: the salt bytes go in least significant first whether or not the Salt flag is
        // set, so a salt of 0 derives with eight zero bytes.
        unsigned char saltBytes[SaltBytes];
        qToLittleEndian(salt, saltBytes);
        if (flags & QryptoCipher::Pbkdf2) {
            return PKCS5_PBKDF2_HMAC(key.constData(), key.size(), saltBytes, SaltBytes, iterations, digest,
                                     keyLength + IvRoom, m_keyIv) == 1;
        }
        return EVP_BytesToKey(cipher, digest, saltBytes,
                              reinterpret_cast<const unsigned char *>(key.constData()), key.size(),
                              iterations, m_keyIv, m_iv) == keyLength;
    }

    qint64 write(const unsigned char *bytes, int length)
    {
        if (length <= 0)
            return 0;
        const qint64 written = m_out->write(reinterpret_cast<const char *>(bytes), length);
        if (written != length)
            m_intact = false;
        return std::max<qint64>(written, 0);
    }

    QIODevice *m_out;
    EVP_CIPHER_CTX *m_ctx;
    bool m_intact = true;
    unsigned char m_keyIv[MaxKeyLength + IvRoom] = {};
    unsigned char *m_iv = m_keyIv;
    unsigned char m_output[ChunkSize + EVP_MAX_BLOCK_LENGTH];
};

} // namespace

struct QryptoCipher::Settings
{
    quint16 cipherNid = 0;
    Flags flags = Iterations;
    QByteArray cipherName;
    QByteArray key;
    int digestNid = DefaultDigest;
    quint16 iterations = DefaultIterations;
    qint64 salt = 0;
    const EVP_CIPHER *cipher = nullptr;
    const EVP_MD *digest = digestByNid(DefaultDigest);
};

QryptoCipher::QryptoCipher()
    : d(new Settings)
{
    randomSalt();
}

QryptoCipher::QryptoCipher(const QByteArray &name, const QByteArray &key)
    : d(new Settings)
{
    d->key = key;
    randomSalt();
    setCipherName(name.toUpper());
}

QryptoCipher::QryptoCipher(Type type, const QByteArray &key, Mode mode)
    : d(new Settings)
{
    d->key = key;
    randomSalt();
    setCipherName(algorithmName(type, mode));
}

QryptoCipher::QryptoCipher(const QryptoCipher &other)
    : d(new Settings(*other.d))
{}

QryptoCipher &QryptoCipher::operator=(const QryptoCipher &other)
{
    if (this != &other)
        *d = *other.d;
    return *this;
}

QryptoCipher::~QryptoCipher()
{
    delete d;
}

const char *QryptoCipher::typePrefix(Type type)
{
    switch (type) {
    case Aes128:
        return "AES-128-";
    case Aes192:
        return "AES-192-";
    case Aes256:
        return "AES-256-";
    case Blowfish:
        return "BF-";
    case Camellia128:
        return "CAMELLIA-128-";
    case Camellia192:
        return "CAMELLIA-192-";
    case Camellia256:
        return "CAMELLIA-256-";
    case Cast5:
        return "CAST5-";
    case Des:
        return "DES-";
    case DesEde3:
        return "DES-EDE3-";
    case Idea:
        return "IDEA-";
    case Rc2:
        return "RC2-";
    case Rc5:
        return "RC5-";
    }
    return "";
}

QByteArray QryptoCipher::algorithmName(Type type, Mode mode)
{
    QByteArray name(typePrefix(type));
    if (name.isEmpty())
        return name;
    switch (mode) {
    case Ecb:
        return name + "ECB";
    case Cbc:
        return name + "CBC";
    case Cfb:
        return name + "CFB";
    case Ofb:
        return name + "OFB";
    }
    return QByteArray();
}

bool QryptoCipher::isSupported(const QByteArray &name)
{
    const QByteArray upper = name.toUpper();
    if (!cipherByName(upper))
        return false;
    // OpenSSL 3 knows names whose implementation lives in a provider that may be missing.
    EVP_CIPHER *implementation = EVP_CIPHER_fetch(nullptr, upper.constData(), nullptr);
    EVP_CIPHER_free(implementation);
    return implementation != nullptr;
}

bool QryptoCipher::isSupported(Type type, Mode mode)
{
    return isSupported(algorithmName(type, mode));
}

int QryptoCipher::nid(Type type, Mode mode)
{
    const EVP_CIPHER *found = cipherByName(algorithmName(type, mode));
    return found ? EVP_CIPHER_nid(found) : 0;
}

int QryptoCipher::blockSize() const
{
    return d->cipher ? EVP_CIPHER_block_size(d->cipher) : 0;
}

quint16 QryptoCipher::cipher() const
{
    return d->cipherNid;
}

void QryptoCipher::setCipher(quint16 nid)
{
    const char *shortName = OBJ_nid2sn(nid);
    d->cipher = shortName ? cipherByName(QByteArray(shortName)) : nullptr;
    if (d->cipher) {
        d->cipherNid = nid;
        d->cipherName = OBJ_nid2sn(EVP_CIPHER_nid(d->cipher));
    } else {
        d->cipherNid = 0;
        d->cipherName.clear();
    }
}

const QByteArray &QryptoCipher::cipherName() const
{
    return d->cipherName;
}

void QryptoCipher::setCipherName(const QByteArray &name)
{
    d->cipherName = name;
    d->cipher = cipherByName(name);
    d->cipherNid = d->cipher ? quint16(EVP_CIPHER_nid(d->cipher)) : 0;
}

const QByteArray &QryptoCipher::key() const
{
    return d->key;
}

void QryptoCipher::setKey(const QByteArray &key)
{
    d->key = key;
}

int QryptoCipher::digest() const
{
    return d->digestNid;
}

void QryptoCipher::setDigest(int nid)
{
    d->digestNid = nid;
    d->digest = digestByNid(nid);
}

quint16 QryptoCipher::iterations() const
{
    return d->iterations;
}

void QryptoCipher::setIterations(quint16 count)
{
    d->iterations = count == 0 ? 1 : count;
    d->flags.setFlag(Iterations, count >= 2);
}

qint64 QryptoCipher::salt() const
{
    return d->salt;
}

void QryptoCipher::setSalt(qint64 salt)
{
    d->salt = salt;
    d->flags.setFlag(Salt, salt != 0);
}

QryptoCipher::Flags QryptoCipher::flags() const
{
    return d->flags;
}

void QryptoCipher::setFlags(Flags flags)
{
    const Flags changed = d->flags ^ flags;
    d->flags = flags;
    if (changed & Iterations)
        d->iterations = (flags & Iterations) ? DefaultIterations : 1;
    if (changed & Salt) {
        if (flags & Salt)
            randomSalt();
        else
            d->salt = 0;
    }
}

bool QryptoCipher::isValid() const
{
    return d->cipher && d->digest && !d->key.isEmpty();
}

void QryptoCipher::randomSalt()
{
    initialiseLibrary();
    unsigned char bytes[SaltBytes];
    if (RAND_bytes(bytes, SaltBytes) == 1) {
        d->salt = qFromLittleEndian<qint64>(bytes);
        d->flags |= Salt;
    } else {
        qCWarning(lcCrypto, "QryptoCipher.randomSalt() failed, will be unavailable.");
        d->salt = 0;
        d->flags &= ~Flags(Salt);
    }
}

QByteArray QryptoCipher::runArray(const char *data, qint64 length, bool enc)
{
    QByteArray output;
    if (runArrayInPlace(output, enc, data, length) < 0)
        return QByteArray();
    return output;
}

int QryptoCipher::runArrayInPlace(QByteArray &target, bool enc, const char *data, qint64 length)
{
    if (!isValid() || length < 0)
        return -1;
    QBuffer buffer;
    if (!buffer.open(QIODevice::ReadWrite))
        return -1;
    const qint64 block = std::max(blockSize(), 1);
    const qint64 expected = enc ? (length + block - 1) / block * block : length / block * block;
    if (expected < qint64(INT_MAX))
        buffer.buffer().reserve(int(expected));
    QryptoCipherContext context(d->cipher, d->digest, d->key, d->salt, d->iterations, d->flags, &buffer, enc);
    context.update(data, length);
    context.finish();
    target.swap(buffer.buffer());
    return target.size();
}

QByteArray QryptoCipher::encrypt(const char *data, int length)
{
    return runArray(data, length, true);
}

QByteArray QryptoCipher::encrypt(const QByteArray &data)
{
    return runArray(data.constData(), data.size(), true);
}

int QryptoCipher::encrypt(QByteArray &data)
{
    return runArrayInPlace(data, true, data.constData(), data.size());
}

QByteArray QryptoCipher::decrypt(const char *data, int length)
{
    return runArray(data, length, false);
}

QByteArray QryptoCipher::decrypt(const QByteArray &data)
{
    return runArray(data.constData(), data.size(), false);
}

int QryptoCipher::decrypt(QByteArray &data)
{
    return runArrayInPlace(data, false, data.constData(), data.size());
}

qint64 QryptoCipher::runDevices(QIODevice *out, QIODevice *in, bool enc, bool *complete)
{
    *complete = false;
    if (!isValid() || !out || !in)
        return -1;
    if (!in->isReadable() && !in->open(QIODevice::ReadOnly))
        return -1;
    if (!out->isWritable() && !out->open(QIODevice::WriteOnly))
        return -1;

    QryptoCipherContext context(d->cipher, d->digest, d->key, d->salt, d->iterations, d->flags, out, enc);
    char chunk[ChunkSize];
    qint64 total = 0;
    bool readFailed = false;
    for (;;) {
        const qint64 got = in->read(chunk, ChunkSize);
        if (got < 1 || !context.isRunning()) {
            readFailed = got < 0;
            break;
        }
        total += context.update(chunk, got);
        if (!context.isIntact())
            break;
    }
    // The final step is tried even after a failed update; the run then counts as incomplete.
    total += context.finish();
    *complete = context.isRunning() && context.isIntact() && !readFailed;
    return total;
}

qint64 QryptoCipher::runInPlace(QIODevice *device, bool enc)
{
    if (!isValid() || !device)
        return -1;
    QTemporaryFile output;
    if (!output.open())
        return -1;
    const bool wasOpen = device->isOpen();
    if (!device->isReadable() && !device->open(output.openMode()))
        return -1;
    const auto giveUp = [&]() -> qint64 {
        if (!wasOpen)
            device->close();
        return -1;
    };
    if (!device->reset())
        return giveUp();

    // The run goes into the temporary file first, so that a failed run (wrong key, bad
    // padding, a read error) leaves the device's content as it was.
    bool complete = false;
    const qint64 result = runDevices(&output, device, enc, &complete);
    if (result < 0 || !complete || !output.reset())
        return giveUp();

    device->close();
    if (!device->open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    char chunk[ChunkSize];
    for (;;) {
        const qint64 got = output.read(chunk, ChunkSize);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        if (device->write(chunk, got) != got)
            return -1;
    }
    return result;
}

qint64 QryptoCipher::encrypt(QIODevice *out, QIODevice *in)
{
    if (out == in)
        return runInPlace(out, true);
    bool complete = false;
    return runDevices(out, in, true, &complete);
}

qint64 QryptoCipher::decrypt(QIODevice *out, QIODevice *in)
{
    if (out == in)
        return runInPlace(out, false);
    bool complete = false;
    return runDevices(out, in, false, &complete);
}

qint64 QryptoCipher::encrypt(QIODevice *device)
{
    return runInPlace(device, true);
}

qint64 QryptoCipher::decrypt(QIODevice *device)
{
    return runInPlace(device, false);
}

QDataStream &operator<<(QDataStream &stream, const QryptoCipher &cipher)
{
    stream << qint16(cipher.cipher());
    if (cipher.cipher() == 0)
        return stream;
    const QryptoCipher::Flags flags = cipher.flags();
    stream << qint16(quint16(flags & 0xffff)) << qint16(quint16(cipher.digest() & 0xffff));
    if (flags & QryptoCipher::Salt)
        stream << qint64(cipher.salt());
    if (flags & QryptoCipher::Iterations)
        stream << qint16(cipher.iterations());
    return stream;
}

QDataStream &operator>>(QDataStream &stream, QryptoCipher &cipher)
{
    qint16 nid = 0;
    stream >> nid;
    cipher.setCipher(quint16(nid));
    if (nid == 0)
        return stream;
    qint16 flagWord = 0;
    qint16 digest = 0;
    stream >> flagWord >> digest;
    const QryptoCipher::Flags flags = QryptoCipher::Flags(QFlag(int(quint16(flagWord))));
    cipher.setFlags(flags);
    cipher.setDigest(quint16(digest));
    if (flags & QryptoCipher::Salt) {
        qint64 salt = 0;
        stream >> salt;
        cipher.setSalt(salt);
    }
    if (flags & QryptoCipher::Iterations) {
        qint16 count = 0;
        stream >> count;
        cipher.setIterations(quint16(count));
    }
    return stream;
}
