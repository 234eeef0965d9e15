#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <cstdint>
#include <functional>

// Time-ordered 64-bit key: 42 bits of milliseconds since kRecordIdEpochMs,
// 10 bits of worker number, 12 bits of sequence.
using RecordId = std::uint64_t;

constexpr std::int64_t kRecordIdEpochMs = 1608509288888LL;
constexpr int kRecordIdWorker = 1009;

class RecordIdGenerator
{
public:
    void SetEpoch(std::int64_t ms);
    void SetWorker(std::int32_t n);
    RecordId NextId();

    // Milliseconds since 1970-01-01 UTC; tests replace it to pin the clock.
    using Clock = std::function<std::uint64_t()>;
    static void SetClock(Clock clock);
    static std::uint64_t NowMs();

private:
    std::int64_t epochMs = 0;
    std::int64_t worker = 0;
    std::int32_t sequence = 0;
};

// Decimal text of a fresh RecordId carrying the process's worker number;
// never the same twice in a process (unless its clock is set back).
QByteArray NewRecordIdText();
// The worker number of this process's identifiers: kRecordIdWorker for the
// file store, the number claimed on the server for a shared one.
void SetRecordIdWorker(int worker);
int RecordIdWorker();

// Bounded printf: at most 20479 bytes, cut like vsnprintf.
QByteArray FormatSql(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

QByteArray UInt64Text(std::uint64_t v);
QByteArray IntText(int v);

// Inclusive text bounds of a calendar day: "yyyy-MM-dd 00:00:00" .. "yyyy-MM-dd 23:59:59".
struct DayRange
{
    QString from;
    QString to;
};
DayRange DayRangeOf(const QDate& day);

// An amount of money in whole cents, rounded half away from zero.
qint64 CentsOf(double amount);
// Cents as "%0.2f" would print the exact amount: "-1234.50", "0.07".
QString CentsText(qint64 cents);
