#pragma once

#include <QByteArray>
#include <QString>

// Password hashing (Argon2id) and session tokens, both from libsodium.
namespace Secrets {

bool initialize();
QString hashPassword(const QString &password);
bool verifyPassword(const QString &hash, const QString &password);
// Costs as much as a real verification, so an unknown name answers no faster than a
// wrong password.
void verifyDummy(const QString &password);

// A random cookie value (URL-safe text) and the digest under which it is stored.
QByteArray newSessionToken();
QByteArray tokenDigest(QByteArrayView token);

} // namespace Secrets
