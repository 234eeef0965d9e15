#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>

// Worker of the version check: polls its command word, fetches one reply
// per request and hands it to the GUI thread through notifyResult.
class CCatchThread : public QThread
{
    Q_OBJECT
public:
    explicit CCatchThread(QObject* parent = nullptr);
    ~CCatchThread() override;

    void RequestCheck(int arg);
    void SetCommand(int value);

signals:
    void notifyResult(QString reply);

protected:
    void run() override;

private:
    void RunCheck(int arg);

    std::atomic<int> command{0};
    std::atomic<int> commandArg{0};
};

// Text between the first openTag and the next closeTag; text becomes empty
// and the result false when either is missing.
bool ExtractBetween(QByteArray& text, const QByteArray& openTag, const QByteArray& closeTag);
