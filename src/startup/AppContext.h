#pragma once

#include <QString>

class LibraryDb;
class Prompter;

// The server's start-up answer; every value stays empty when the server cannot be reached.
struct ServerInfo
{
    QString reader_1;
    QString reader_2;
    QString reader_3;
    QString reader_4;
    QString version;
    QString mustdown;
    QString verinfo;
    QString downloadlist;
    QString savepathlist;
};

// Configuration read from Folioway.ini in the program folder.
struct AppConfig
{
    QString serverBaseUrl = QStringLiteral("http://127.0.0.1:8080");
    int serverInfoTimeoutMs = 5000;

    static AppConfig load(const QString &programFolder);
    // Writes the server address into Folioway.ini, keeping the file's other keys.
    bool saveServerBaseUrl(const QString &programFolder) const;
};

// A server address as typed made into the form AppConfig keeps ("http://host:port", no
// trailing "/"); "http://" is assumed when no scheme is given. Empty when it is not an http or
// https address with a host.
QString NormalisedServerAddress(const QString &typed);

inline const QString &ProgramVersion()
{
    static const QString version = QStringLiteral("v1.2");
    return version;
}

// Process-wide values created by the start routine; they live until the program ends.
// The library database is owned by whoever runs the start routine (main or a test).
struct AppContext
{
    QString programFolder;
    LibraryDb *db = nullptr;
    QString downloadFolder;
    QString machineId;
    ServerInfo serverInfo;
    AppConfig config;
};
