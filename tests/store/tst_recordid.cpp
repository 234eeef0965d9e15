#include "store/RecordId.h"

#include <QtTest>

class TestRecordId : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void newIdAtSetClock_data();
    void newIdAtSetClock();
    void keptGeneratorWrapsSequence();
    void formatSqlKeepsAtMost20479Bytes_data();
    void formatSqlKeepsAtMost20479Bytes();
    void numberTexts();
    void dayRangeCoversTheWholeDay();
};

void TestRecordId::cleanup()
{
    RecordIdGenerator::SetClock(nullptr);
}

void TestRecordId::newIdAtSetClock_data()
{
    QTest::addColumn<quint64>("nowMs");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("2021-01-01 00:00:00.000")
        << quint64(1609459200000) << QByteArray("3984215980838912");
    QTest::newRow("one millisecond later")
        << quint64(1609459200001) << QByteArray("3984215985033216");
    QTest::newRow("the epoch itself") << quint64(kRecordIdEpochMs) << QByteArray("4132864");
    QTest::newRow("last millisecond below the sign bit")
        << quint64(kRecordIdEpochMs + (1LL << 41) - 1) << QByteArray("9223372036854714368");
    QTest::newRow("2090-08-27 15:55:44.440 reaches the sign bit")
        << quint64(kRecordIdEpochMs + (1LL << 41)) << QByteArray("9223372036858908672");
}

void TestRecordId::newIdAtSetClock()
{
    QFETCH(quint64, nowMs);
    QFETCH(QByteArray, text);
    RecordIdGenerator::SetClock([nowMs] { return nowMs; });
    QCOMPARE(NewRecordIdText(), text);
    // The same millisecond again: the next in sequence.
    QCOMPARE(NewRecordIdText().toULongLong(), text.toULongLong() + 1);
    const RecordId id = text.toULongLong();
    QCOMPARE(id >> 22, nowMs - kRecordIdEpochMs);
    QCOMPARE((id >> 12) & 0x3FF, RecordId(1009));
    QCOMPARE(id & 0xFFF, RecordId(0));
}

void TestRecordId::keptGeneratorWrapsSequence()
{
    std::uint64_t now = 1609459200000;
    RecordIdGenerator::SetClock([&now] { return now; });
    RecordIdGenerator generator;
    generator.SetEpoch(kRecordIdEpochMs);
    generator.SetWorker(kRecordIdWorker);
    RecordId previous = 0;
    for (int i = 0; i < 4096; ++i) {
        const RecordId id = generator.NextId();
        QCOMPARE(int(id & 0xFFF), i);
        QVERIFY(id > previous);
        previous = id;
    }
    const RecordId wrapped = generator.NextId();
    QCOMPARE(wrapped & 0xFFF, RecordId(0));
    QCOMPARE(wrapped, 3984215980838912ULL);
    // The counter runs on across milliseconds instead of restarting.
    ++now;
    QCOMPARE(generator.NextId(), 3984215985033216ULL | 1);
}

void TestRecordId::formatSqlKeepsAtMost20479Bytes_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("kept");
    QTest::newRow("short") << 10 << 10;
    QTest::newRow("one below the bound") << 20478 << 20478;
    QTest::newRow("exactly the bound") << 20479 << 20479;
    QTest::newRow("one above") << 20480 << 20479;
    QTest::newRow("far above") << 50000 << 20479;
}

void TestRecordId::formatSqlKeepsAtMost20479Bytes()
{
    QFETCH(int, length);
    QFETCH(int, kept);
    const QByteArray value(length - 4, 'v');
    const QByteArray text = FormatSql("%s=%d", value.constData(), 123);
    QCOMPARE(text.size(), kept);
    QCOMPARE(text, (value + "=123").left(kept));
}

void TestRecordId::numberTexts()
{
    QCOMPARE(UInt64Text(0), QByteArray("0"));
    QCOMPARE(UInt64Text(UINT64_MAX), QByteArray("18446744073709551615"));
    QCOMPARE(IntText(-1009), QByteArray("-1009"));
    QCOMPARE(CentsText(0), QString("0.00"));
    QCOMPARE(CentsText(-5), QString("-0.05"));
    QCOMPARE(CentsText(123450), QString("1234.50"));
    QCOMPARE(CentsText(INT64_MIN), QString("-92233720368547758.08"));
}

void TestRecordId::dayRangeCoversTheWholeDay()
{
    const DayRange range = DayRangeOf(QDate(2020, 2, 29));
    QCOMPARE(range.from, QString("2020-02-29 00:00:00"));
    QCOMPARE(range.to, QString("2020-02-29 23:59:59"));
}

QTEST_APPLESS_MAIN(TestRecordId)
#include "tst_recordid.moc"
