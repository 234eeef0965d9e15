#include "store/RecordId.h"

#include "app/AppContext.h"

#include <QDateTime>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
RecordIdGenerator::Clock& ClockSource()
{
    static RecordIdGenerator::Clock clock;
    return clock;
}

std::atomic<int> processWorker{kRecordIdWorker};

// A clock set back by more than this starts the sequence over at its time;
// less, and the identifiers go on from the last one, so none repeats.
const std::uint64_t kClockSetBackMs = 1000;
} // namespace

void RecordIdGenerator::SetEpoch(std::int64_t ms)
{
    epochMs = ms;
}

void RecordIdGenerator::SetWorker(std::int32_t n)
{
    worker = n;
}

void RecordIdGenerator::SetClock(Clock clock)
{
    ClockSource() = std::move(clock);
}

std::uint64_t RecordIdGenerator::NowMs()
{
    const Clock& clock = ClockSource();
    return clock ? clock() : static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
}

RecordId RecordIdGenerator::NextId()
{
    const std::uint64_t now = NowMs();
    const std::int32_t s = sequence;
    const RecordId id = ((now << 22) - (static_cast<std::uint64_t>(epochMs) << 22)) |
                        ((static_cast<std::uint64_t>(worker) & 0x3FF) << 12) |
                        (static_cast<std::uint64_t>(s) & 0xFFF);
    sequence = (s + 1 == 4096) ? 0 : s + 1;
    return id;
}

QByteArray NewRecordIdText()
{
    // Two identifiers of one millisecond differ in their sequence; the 4097th
    // borrows the next millisecond.
    static std::mutex lock;
    static std::uint64_t lastMs = 0;
    static std::uint64_t sequence = 0;
    std::lock_guard<std::mutex> held(lock);
    const std::uint64_t now = RecordIdGenerator::NowMs();
    if (now > lastMs || lastMs - now > kClockSetBackMs) {
        lastMs = now;
        sequence = 0;
    } else if (++sequence == 4096) {
        ++lastMs;
        sequence = 0;
    }
    const std::uint64_t worker = static_cast<std::uint64_t>(processWorker) & 0x3FF;
    return UInt64Text(((lastMs - static_cast<std::uint64_t>(kRecordIdEpochMs)) << 22) |
                      (worker << 12) | sequence);
}

void SetRecordIdWorker(int worker)
{
    processWorker = worker;
}

int RecordIdWorker()
{
    return processWorker;
}

QByteArray FormatSql(const char* format, ...)
{
    std::vector<char> buffer(20480, '\0');
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    return QByteArray(buffer.data());
}

QByteArray UInt64Text(std::uint64_t v)
{
    return QByteArray::number(static_cast<qulonglong>(v));
}

QByteArray IntText(int v)
{
    return QByteArray::number(v);
}

DayRange DayRangeOf(const QDate& day)
{
    const QString text = day.toString("yyyy-MM-dd");
    return {AppendUtf8(text, " 00:00:00"), AppendUtf8(text, " 23:59:59")};
}

qint64 CentsOf(double amount)
{
    return qRound64(amount * 100.0);
}

QString CentsText(qint64 cents)
{
    // Whole numbers all the way: a double would print a large sum with an
    // exponent or miss its last cent.
    // Put together by hand: a formatted print cost a thirtieth of a scan,
    // which prices every line of the sale again.
    const quint64 magnitude = cents < 0 ? 0 - quint64(cents) : quint64(cents);
    const int fraction = int(magnitude % 100);
    QString text = cents < 0 ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 100);
    text += QLatin1Char('.');
    text += QLatin1Char(char('0' + fraction / 10));
    text += QLatin1Char(char('0' + fraction % 10));
    return text;
}
