#pragma once

#include <QByteArray>
#include <QFlags>
#include <QtGlobal>

class QDataStream;
class QIODevice;

// Settings of one symmetric cipher (algorithm, key bytes, key and IV derivation) and the runs
// that apply it to byte arrays and devices. OpenSSL is initialised on first use with its
// "default" and "legacy" providers. An object and its runs belong to one thread at a time.
class QryptoCipher
{
public:
    // Cipher families; the library name is the family prefix followed by the mode text.
    enum Type : int
    {
        Aes128 = 1,
        Aes192 = 2,
        Aes256 = 3,
        Blowfish = 4,
        Camellia128 = 5,
        Camellia192 = 6,
        Camellia256 = 7,
        Cast5 = 8,
        Des = 9,
        DesEde3 = 10,
        Idea = 11,
        Rc2 = 12,
        Rc5 = 13
    };

    enum Mode : int
    {
        Ecb = 0,
        Cbc = 1,
        Cfb = 2,
        Ofb = 3
    };

    enum Flag : quint32
    {
        Salt = 0x01,       // a non-zero salt is in use and travels in the stream form
        Iterations = 0x02, // an iteration count other than 1 travels in the stream form
        Pbkdf2 = 0x10      // derive key and IV with PBKDF2-HMAC instead of the classic derivation
    };
    Q_DECLARE_FLAGS(Flags, Flag)

    // No cipher, empty key, SHA-1 digest, 1000 iterations and a fresh random salt.
    QryptoCipher();
    // Cipher named by `name` (upper-cased, e.g. "bf-cbc" becomes "BF-CBC") with the key bytes.
    QryptoCipher(const QByteArray &name, const QByteArray &key);
    // Cipher named by algorithmName(type, mode); an unknown family or mode leaves no cipher.
    QryptoCipher(Type type, const QByteArray &key, Mode mode);
    // Copies every setting, the salt included.
    QryptoCipher(const QryptoCipher &other);
    QryptoCipher &operator=(const QryptoCipher &other);
    ~QryptoCipher();

    // Name prefix of a family, such as "BF-"; "" for a value that is no family.
    static const char *typePrefix(Type type);
    // Prefix plus mode text ("BF-CBC"); the empty prefix for a non-family, empty for a bad mode.
    static QByteArray algorithmName(Type type, Mode mode);
    // Whether the library can run the named cipher (the name is upper-cased first).
    static bool isSupported(const QByteArray &name);
    static bool isSupported(Type type, Mode mode);
    // The library's identifying number of the cipher, 0 when the library knows none.
    static int nid(Type type, Mode mode);

    // Block size in bytes of the cipher, 0 without one.
    int blockSize() const;

    // The cipher's identifying number, 0 without cipher.
    quint16 cipher() const;
    // Looks the cipher up by number; on success the name becomes the library's short name,
    // otherwise number and name are cleared.
    void setCipher(quint16 nid);
    const QByteArray &cipherName() const;
    // Stores the name as given and looks the cipher up by it; the name stays even when unknown.
    void setCipherName(const QByteArray &name);
    const QByteArray &key() const;
    void setKey(const QByteArray &key);
    // Identifying number of the derivation digest (64, SHA-1, by default).
    int digest() const;
    // Stores the number even when the library knows no such digest (the object is then invalid).
    void setDigest(int nid);
    quint16 iterations() const;
    // 0 is stored as 1; the Iterations flag follows whether the count is 2 or more.
    void setIterations(quint16 count);
    // The 8 salt bytes, least significant byte first.
    qint64 salt() const;
    // The Salt flag follows whether the salt is non-zero.
    void setSalt(qint64 salt);
    Flags flags() const;
    // Stores the flags; turning Iterations on sets the count to 1000 and off to 1, turning Salt
    // on draws a fresh salt and off sets it to 0. Bits that do not change leave both alone.
    void setFlags(Flags flags);
    // True when a cipher and a digest are known and the key is not empty.
    bool isValid() const;

    // Runs over a byte array. The returning forms give the output, or an empty array when the
    // settings are invalid. The in-place forms return the new size of `data`, or -1 (data
    // untouched) when the settings are invalid; a run that fails to start leaves it empty (0).
    // A failed final block (bad padding when deciphering) leaves only the earlier output.
    QByteArray encrypt(const char *data, int length);
    QByteArray encrypt(const QByteArray &data);
    int encrypt(QByteArray &data);
    QByteArray decrypt(const char *data, int length);
    QByteArray decrypt(const QByteArray &data);
    int decrypt(QByteArray &data);

    // Reads `in` to its end and writes the result to `out`, opening either when needed. Returns
    // the bytes written, -1 when the settings are invalid or a device cannot be opened, and 0
    // when the run fails to start. The same device twice means the in-place device run.
    qint64 encrypt(QIODevice *out, QIODevice *in);
    qint64 decrypt(QIODevice *out, QIODevice *in);

    // Runs over the whole content of `device` through a temporary file and replaces the
    // content (the device is reopened write-only and truncated) only when the run succeeded,
    // final block included. Returns the new content's size, or -1 with the content untouched.
    qint64 encrypt(QIODevice *device);
    qint64 decrypt(QIODevice *device);

private:
    struct Settings;

    void randomSalt();
    QByteArray runArray(const char *data, qint64 length, bool enc);
    int runArrayInPlace(QByteArray &target, bool enc, const char *data, qint64 length);
    qint64 runDevices(QIODevice *out, QIODevice *in, bool enc, bool *complete);
    qint64 runInPlace(QIODevice *device, bool enc);

    Settings *d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QryptoCipher::Flags)

// Stream form of the settings: cipher number (16-bit); when it is not 0 the low 16 bits of the
// flags and of the digest number, the salt (64-bit) when Salt is set and the iteration count
// (16-bit) when Iterations is set. Neither key nor name is written.
QDataStream &operator<<(QDataStream &stream, const QryptoCipher &cipher);
// Reads the stream form; an unknown cipher number still consumes its fields and leaves no cipher.
QDataStream &operator>>(QDataStream &stream, QryptoCipher &cipher);
