#include "update/CCatchThread.h"

CCatchThread::CCatchThread(QObject* parent) : QThread(parent) {}

CCatchThread::~CCatchThread() = default;

void CCatchThread::RequestCheck(int arg)
{
    commandArg.store(arg, std::memory_order_release);
    command.store(2, std::memory_order_release);
}

void CCatchThread::SetCommand(int value)
{
    command.store(value, std::memory_order_release);
}

void CCatchThread::run()
{
    while (!isInterruptionRequested()) {
        const int current = command.load(std::memory_order_acquire);
        if (current == 3)
            return;
        if (current == 2) {
            RunCheck(commandArg.load(std::memory_order_acquire));
            command.store(0, std::memory_order_release);
            continue;
        }
        QThread::msleep(1);
    }
}

void CCatchThread::RunCheck(int) {}

bool ExtractBetween(QByteArray& text, const QByteArray& openTag, const QByteArray& closeTag)
{
    const int open = text.indexOf(openTag);
    const int close = open < 0 ? -1 : text.indexOf(closeTag, open + openTag.size());
    if (open < 0 || close < 0) {
        text.clear();
        return false;
    }
    text = text.mid(open + openTag.size(), close - open - openTag.size());
    return true;
}
