#include "update/CCatchThread.h"

#include "app/AppContext.h"
#include "store/RecordId.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <system_error>
#include <thread>

namespace {
const char kBuildText[] = "1009";
const int kPortOffset = 7000;
const long kConnectTimeoutSeconds = 10;
// How long closing waits for a host lookup that a stop left behind.
const auto kLookupExitWait = std::chrono::seconds(1);

enum Command
{
    kIdle = 0,
    kCheck = 2,
    kStop = 3
};

// Dotted text of the host's first IPv4 address; empty when it has none.
QByteArray FirstIpv4Address(const QByteArray& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
        return QByteArray();
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool converted = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    return converted ? QByteArray(text) : QByteArray();
}

QByteArray TrimPiece(const QByteArray& piece)
{
    int begin = 0;
    int end = piece.size();
    while (begin < end && piece[begin] == ' ')
        ++begin;
    while (end > begin && (piece[end - 1] == ' ' || piece[end - 1] == '\t'))
        --end;
    return piece.mid(begin, end - begin);
}
} // namespace

// What the worker sleeps on: a command written or a host lookup ending.
// Writers change the command under the lock, so the worker cannot miss a
// wake-up between looking and going to sleep. The lookup threads hold it
// too, so it outlives a worker that stopped waiting for them.
struct CCatchThread::WakeUps
{
    std::mutex lock;
    std::condition_variable changed;
    int lookupsRunning = 0;
};

CCatchThread::CCatchThread(QObject* parent)
    : QThread(parent),
      serverHost(VERSION_SERVER_HOST), timeouts{kConnectTimeoutSeconds,
                                                fetcher.options.totalTimeoutSeconds},
      wakeUps(std::make_shared<WakeUps>())
{
    fetcher.SetHandle(curl_easy_init());
    fetcher.SetStopCheck(StopRequested());
}

CCatchThread::~CCatchThread()
{
    // The handle may only go once the worker can no longer be inside a fetch.
    requestInterruption();
    SetCommand(kStop);
    wait();
    curl_easy_cleanup(fetcher.Handle());
    // Static objects are destroyed soon after the window: a lookup still
    // inside the resolver then may touch what is already gone.
    std::unique_lock<std::mutex> guard(wakeUps->lock);
    wakeUps->changed.wait_for(guard, kLookupExitWait,
                              [this] { return wakeUps->lookupsRunning == 0; });
}

std::function<bool()> CCatchThread::StopRequested() const
{
    return [this] { return Command() == kStop || isInterruptionRequested(); };
}

void CCatchThread::SetServerHost(const QByteArray& host)
{
    std::lock_guard<std::mutex> guard(settingsLock);
    serverHost = host;
}

void CCatchThread::SetTimeouts(const Timeouts& limits)
{
    std::lock_guard<std::mutex> guard(settingsLock);
    timeouts = limits;
}

CCatchThread::Timeouts CCatchThread::CurrentTimeouts() const
{
    std::lock_guard<std::mutex> guard(settingsLock);
    return timeouts;
}

void CCatchThread::RequestCheck(int arg)
{
    std::lock_guard<std::mutex> guard(wakeUps->lock);
    ++requestsMade;
    commandArg.store(arg, std::memory_order_release);
    WriteCommand(kCheck);
}

void CCatchThread::SetCommand(int value)
{
    std::lock_guard<std::mutex> guard(wakeUps->lock);
    WriteCommand(value);
}

void CCatchThread::WriteCommand(int value)
{
    command.store(value, std::memory_order_release);
    wakeUps->changed.notify_all();
}

void CCatchThread::run()
{
    while (!isInterruptionRequested()) {
        int current;
        quint64 requestsAnswered;
        {
            std::unique_lock<std::mutex> guard(wakeUps->lock);
            wakeUps->changed.wait(guard, [this, &current] {
                current = command.load(std::memory_order_acquire);
                return current == kCheck || current == kStop;
            });
            requestsAnswered = requestsMade;
        }
        if (current == kStop)
            return;
        RunCheck(commandArg.load(std::memory_order_acquire));
        // Back to idle only when no request came meanwhile, and never over a
        // stop, or the owner's wait for the worker never ends.
        std::lock_guard<std::mutex> guard(wakeUps->lock);
        if (requestsMade == requestsAnswered && Command() == kCheck)
            command.store(kIdle, std::memory_order_release);
    }
}

// A resolver can take many seconds to give up and getaddrinfo cannot be
// cancelled, so the lookup runs on a thread of its own that a stop request
// leaves behind. Empty when the host has no address, the lookup was stopped
// or no thread could be started for it.
QByteArray CCatchThread::ServerAddress(const QByteArray& host)
{
    auto lookup = std::make_shared<std::promise<QByteArray>>();
    std::future<QByteArray> address = lookup->get_future();
    std::shared_ptr<WakeUps> wakes = wakeUps;
    std::unique_lock<std::mutex> guard(wakes->lock);
    ++wakes->lookupsRunning;
    try {
        std::thread([host, lookup, wakes] {
            lookup->set_value(FirstIpv4Address(host));
            std::lock_guard<std::mutex> guard(wakes->lock);
            --wakes->lookupsRunning;
            wakes->changed.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        --wakes->lookupsRunning;
        qWarning("version check: no thread for the host lookup: %s", error.what());
        return QByteArray();
    }
    const std::function<bool()> stopped = StopRequested();
    const auto ready = [&address] {
        return address.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    wakes->changed.wait(guard, [&] { return ready() || stopped(); });
    return ready() ? address.get() : QByteArray();
}

void CCatchThread::RunCheck(int arg)
{
    if (arg != 1)
        return;
    QByteArray host;
    Timeouts limits;
    {
        std::lock_guard<std::mutex> guard(settingsLock);
        host = serverHost;
        limits = timeouts;
    }
    const QByteArray address = ServerAddress(host);
    const QList<QByteArray> pieces = SplitText(address, ".");
    if (pieces.size() != 4)
        return;
    const QByteArray url = "http://" + address + ":" + IntText(pieces[3].toInt() + kPortOffset) +
                           "/getver?verno=" + kBuildText +
                           "&clientguid=" + appContext.clientUuid.toUtf8() +
                           "&time=" + MakeTimeToken(true);
    QByteArray output;
    fetcher.options.totalTimeoutSeconds = limits.totalSeconds;
    fetcher.Fetch(output, url, limits.connectSeconds);
    emit notifyResult(QString::fromUtf8(output));
}

QList<QByteArray> SplitText(const QByteArray& text, const QByteArray& separator)
{
    if (separator.isEmpty())
        return {TrimPiece(text)};
    const QByteArray rest = text + separator;
    QList<QByteArray> pieces;
    for (int from = 0, at; (at = rest.indexOf(separator, from)) >= 0; from = at + separator.size())
        pieces.append(TrimPiece(rest.mid(from, at - from)));
    return pieces;
}

QByteArray MakeTimeToken(bool withRandom)
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int r = std::rand();
    const auto t = static_cast<std::int32_t>(std::time(nullptr));
    QByteArray token = QByteArray::number(t);
    if (withRandom)
        token += QByteArray::number(r % 500 + 100);
    return token;
}

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
