// Logins of real users beside guessing from 16, 64 and 256 addresses, two wrong guesses at a
// time from each. Ten real users, each on an address of its own: half have logged in from it
// before, half come from an address the server has not seen. Goal: at least 9 of 10 logins in
// within 5 seconds, in every phase.

#include "BenchClients.h"
#include "LiveServer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Runs the event loop until done() holds or ms pass.
void waitFor(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { if (done()) loop.quit(); });
    poll.start(20);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
}

QByteArray loginOf(int user, const QByteArray &password)
{
    return closingRequest("/readerserver/userinfo.asp?action=login&username=reader" + QByteArray::number(user) +
                          "&password=" + password + "&cookies=0");
}

// The address of the real user in phase; the phase's guessers sit on 127.(10 + phase * 2)…
QString userAddress(int phase, int user)
{
    return QStringLiteral("127.0.6.%1").arg(1 + phase * 10 + user);
}

struct Phase
{
    int logins = 0;      // in within 5 s
    qint64 slowest = 0;  // ms
    int guesses = 0;
    QByteArray firstFailure;
};

Phase phase(const LiveServer &server, int index, int guessers, int seconds)
{
    Phase out;
    // Even users logged in from their address before.
    int ready = 0;
    for (int user = 0; user < 10; user += 2)
        new OneRequest(userAddress(index, user), server.port(), loginOf(user, "secret1"), [&](const QByteArray &) { ++ready; });
    waitFor([&] { return ready == 5; }, 30000);

    QStringList from;
    for (int i = 0; i < guessers; ++i) {
        const QString a = QStringLiteral("127.%1.%2.%3").arg(10 + index * 2 + i / 200).arg(i % 200 / 100).arg(1 + i % 100);
        from << a << a;
    }
    // Half the guesses go to a real user's account, half to names that may not exist.
    Flood flood(server.port(), from, [](int, int round) {
        const QByteArray name = round % 2 ? "reader0" : "guess" + QByteArray::number(round);
        return closingRequest("/readerserver/userinfo.asp?action=login&username=" + name + "&password=wrong" +
                              QByteArray::number(round) + "&cookies=0");
    });
    waitFor([] { return false; }, 2000); // the guessing gets going first
    int answered = 0;
    for (int user = 0; user < 10; ++user) {
        QTimer::singleShot(user * seconds * 100, [&, user] {
            auto clock = std::make_shared<QElapsedTimer>();
            clock->start();
            new OneRequest(userAddress(index, user), server.port(), loginOf(user, "secret1"), [&, clock](const QByteArray &a) {
                const bool right = a.contains("<logininfo>1|");
                const bool in = right && clock->elapsed() <= 5000;
                out.logins += in;
                if (!in && out.firstFailure.isEmpty())
                    out.firstFailure = right        ? "in, but after " + QByteArray::number(clock->elapsed()) + " ms"
                                       : a.isEmpty() ? QByteArray("no answer")
                                                     : a.mid(a.indexOf("\r\n\r\n") + 4).left(200);
                out.slowest = std::max(out.slowest, clock->elapsed());
                ++answered;
            });
        });
    }
    waitFor([&] { return answered == 10; }, seconds * 1000 + 60000);
    out.guesses = flood.sent();
    return out;
}

} // namespace

bool guessPhases(const QTemporaryDir &dir, const QString &binDir, int seconds)
{
    LiveServer server;
    if (!server.start(binDir, {QStringLiteral("--data"), dir.filePath(QStringLiteral("guesses")), QStringLiteral("--no-log")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return false;
    }
    int signedUp = 0;
    for (int user = 0; user < 10; ++user) { // one after the other: sign-ups take half the queue at most
        bool answered = false;
        new OneRequest(QStringLiteral("127.0.5.%1").arg(1 + user), server.port(),
                       closingRequest("/readerserver/userinfo.asp", "action=reg&username=reader" + QByteArray::number(user) +
                                                                        "&userpass=secret1&email=r%40x.cn"),
                       [&](const QByteArray &a) { signedUp += a.contains("<logininfo>1|"); answered = true; });
        waitFor([&] { return answered; }, 60000);
    }
    if (signedUp != 10) {
        std::fprintf(stderr, "the real users could not sign up\n");
        return false;
    }
    bool met = true;
    std::printf("10 real logins beside 2 guesses at a time from each guessing address, %d s each "
                "(goal: >= 9/10 in within 5 s):\n", seconds);
    int index = 0;
    for (const int guessers : {16, 64, 256}) {
        const Phase p = phase(server, index++, guessers, seconds);
        const bool ok = p.logins >= 9;
        met = met && ok;
        std::printf("  %3d guessing addresses (%6d guesses): logins %d/10 (slowest %lld ms): %s%s%s\n", guessers, p.guesses,
                    p.logins, static_cast<long long>(p.slowest), ok ? "met" : "MISSED",
                    p.firstFailure.isEmpty() ? "" : "\n      a failed login: ", p.firstFailure.constData());
    }
    return met;
}
