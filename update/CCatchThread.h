#pragma once

#include "update/HttpFetcher.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Worker of the version check: sleeps until its command word is set, fetches
// one reply per request and hands it to the GUI thread through notifyResult.
class CCatchThread : public QThread
{
    Q_OBJECT
public:
    explicit CCatchThread(QObject* parent = nullptr);
    // Stops and waits for the worker if its owner has not yet, and gives a
    // host lookup it left behind up to a second to leave the resolver.
    ~CCatchThread() override;

    void RequestCheck(int arg);
    void SetCommand(int value);
    // 0 idle, 2 check pending or running, 3 stop.
    int Command() const { return command.load(std::memory_order_acquire); }

    // The version server's host name, the build setting unless changed.
    void SetServerHost(const QByteArray& host);

    // Limits of the check's fetch: 10 s to connect and 60 s in all unless changed.
    struct Timeouts
    {
        long connectSeconds;
        long totalSeconds;
    };
    void SetTimeouts(const Timeouts& limits);
    Timeouts CurrentTimeouts() const;

signals:
    void notifyResult(QString reply);

protected:
    void run() override;

private:
    struct WakeUps;

    void RunCheck(int arg);
    QByteArray ServerAddress(const QByteArray& host);
    std::function<bool()> StopRequested() const;
    void WriteCommand(int value);

    HttpFetcher fetcher;
    std::atomic<int> command{0};
    std::atomic<int> commandArg{0};
    // Requests made so far, under the wake-ups' lock: a check asked for while
    // one runs is told from the one running.
    quint64 requestsMade = 0;
    mutable std::mutex settingsLock;
    QByteArray serverHost;
    Timeouts timeouts;
    std::shared_ptr<WakeUps> wakeUps;
};

// Pieces of text between separators, each trimmed of leading blanks and
// trailing blanks and tabs; empty pieces are kept, a trailing separator adds one.
QList<QByteArray> SplitText(const QByteArray& text, const QByteArray& separator);

// Seconds since 1970 in decimal, with withRandom followed by a number from 100 to 599.
QByteArray MakeTimeToken(bool withRandom);

// Text between the first openTag and the next closeTag; text becomes empty
// and the result false when either is missing.
bool ExtractBetween(QByteArray& text, const QByteArray& openTag, const QByteArray& closeTag);
