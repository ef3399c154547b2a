#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running program per program folder. The first start listens on a local socket named after
// the folder; a later start finds it, hands over the book it was given (or nothing, which only
// brings the running program to the front) and ends. A socket left behind by a program that
// crashed answers nobody and is taken over.
class ProgramInstance : public QObject
{
    Q_OBJECT
public:
    explicit ProgramInstance(const QString &programFolder, QObject *parent = nullptr);

    // The socket's name, made from the folder's absolute path.
    static QString socketName(const QString &programFolder);

    // True when this is the one program for the folder (it now listens); false when another
    // program runs there and has been handed `book` (an absolute path, or empty).
    bool claim(const QString &book);

Q_SIGNALS:
    // A later start handed over `book` (empty when it was given none).
    void bookHandedOver(const QString &book);

private:
    void readHandOver();

    QString m_name;
    QLocalServer *m_server = nullptr;
};
