// An X server of a test's own, through tests/x_server.sh.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Started when made and stopped with the object. Display() is empty when no
// client could get through to it; Output() is the server's own output, to be
// shown with a failure.
class XServer
{
public:
    // screen: WIDTHxHEIGHTxDEPTH.
    explicit XServer(const QString& screen);
    ~XServer();

    QByteArray Display() const { return display; }
    QString Output() const;

private:
    QTemporaryDir folder;
    QByteArray display;
};
