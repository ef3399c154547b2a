#include "routes/Secrets.h"

#include <sodium.h>

namespace Secrets {

namespace {

// Interactive limits: about 64 MiB and a few tens of milliseconds per hash.
const unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
const size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

} // namespace

bool initialize()
{
    return sodium_init() >= 0;
}

QString hashPassword(const QString &password)
{
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()), kOpsLimit, kMemLimit) !=
        0)
        return {};
    return QString::fromLatin1(out);
}

bool verifyPassword(const QString &hash, const QString &password)
{
    const QByteArray stored = hash.toLatin1();
    if (stored.isEmpty() || stored.size() >= crypto_pwhash_STRBYTES)
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(stored.constData(), utf8.constData(),
                                    static_cast<unsigned long long>(utf8.size())) == 0;
}

void verifyDummy(const QString &password)
{
    static const QString dummy = hashPassword(QStringLiteral("folioway-no-such-user"));
    verifyPassword(dummy, password);
}

QByteArray newSessionToken()
{
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    return QByteArray(reinterpret_cast<const char *>(raw), sizeof raw)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray tokenDigest(QByteArrayView token)
{
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char *>(token.data()),
                       static_cast<unsigned long long>(token.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char *>(out), sizeof out);
}

} // namespace Secrets
