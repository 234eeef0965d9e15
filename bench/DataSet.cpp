#include "DataSet.h"

#include "app/AppContext.h"
#include "store/RecordId.h"
#include "store/StockDb.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <random>
#include <set>

bool OpenStore(const QString& folder, Cipher cipher)
{
    appContext.appDir = folder;
    if (cipher == Cipher::Encrypted) {
        stockDb.OpenStockDb(QString());
        return stockDb.IsOpen();
    }
    // The store keeps a handle on the default connection; reconfiguring that
    // same connection keeps every store operation, transactions included, on it.
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    if (!db.isValid())
        return false;
    db.close();
    const QString path = folder + QStringLiteral("/Stock.db");
    const bool create = !QFile::exists(path);
    db.setDatabaseName(path);
    db.setPassword(QString());
    db.setConnectOptions(create ? QStringLiteral("QSQLITE_CREATE_KEY") : QString());
    if (!db.open())
        return false;
    // As the program's own open does: a set made by an earlier build gets
    // the tables added since.
    stockDb.CreateTables();
    return true;
}

bool DropIndexes()
{
    QStringList names;
    {
        QSqlQuery query("SELECT name FROM sqlite_master WHERE type='index' AND sql IS NOT NULL");
        while (query.next())
            names << query.value(0).toString();
    }
    for (const QString& name : names) {
        if (!QSqlQuery().exec(QStringLiteral("DROP INDEX ") + name))
            return false;
    }
    return true;
}

namespace {

using Random = std::mt19937_64;
constexpr double kPi = 3.14159265358979323846;

const char* const kBrands[] = {"康师傅", "统一",   "农夫山泉", "伊利", "蒙牛", "旺旺",
                               "娃哈哈", "达利园", "三只松鼠", "青岛", "雪花", "金龙鱼"};
const char* const kGoods[] = {
    "红烧牛肉面", "矿泉水", "纯牛奶", "酸奶",   "饼干", "薯片",   "火腿肠", "啤酒", "绿茶",
    "可乐",       "方便面", "花生油", "大米",   "挂面", "酱油",   "米醋",   "牙膏", "洗衣粉",
    "纸巾",       "巧克力", "瓜子",   "八宝粥", "面包", "蛋黄派", "橙汁"};
const char* const kSizes[] = {"100g", "250ml", "500ml", "550ml", "1L", "5kg", "12袋装", "24瓶"};

// How busy each hour of a day is; the shop opens at 7 and closes at 23.
const double kHourWeights[24] = {0, 0, 0, 0, 0, 0, 0, 2, 6, 5, 4, 5,
                                 8, 6, 4, 4, 5, 7, 9, 8, 6, 4, 2, 0};
// Monday to Sunday.
const double kWeekdayWeights[7] = {0.92, 0.90, 0.92, 0.95, 1.05, 1.15, 1.11};
// Spring Festival: the three days before it are the busiest of a year.
const QDate kSpringFestivals[] = {QDate(2022, 2, 1),  QDate(2023, 1, 22), QDate(2024, 2, 10),
                                  QDate(2025, 1, 29), QDate(2026, 2, 17), QDate(2027, 2, 6),
                                  QDate(2028, 1, 26), QDate(2029, 2, 13), QDate(2030, 2, 3),
                                  QDate(2031, 1, 23)};

template <typename T, size_t N> const T& Pick(const T (&items)[N], Random& random)
{
    return items[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

struct Product
{
    QString guid;
    QString name;
    QString barcode;
    QString providerGuid;
    QString originalPrice;
    QString retailPrice;
    double price = 0.0;
    long long stock = -1; // -1: not booked in yet
};

// Record identifiers as the program makes them, at the moment the record
// would have been made, so keys stay time-ordered like real ones.
class Ids
{
public:
    Ids()
    {
        generator.SetEpoch(kRecordIdEpochMs);
        generator.SetWorker(kRecordIdWorker);
        RecordIdGenerator::SetClock([this] { return nowMs; });
    }
    ~Ids() { RecordIdGenerator::SetClock(nullptr); }

    QString At(const QDateTime& time, int extraMs = 0)
    {
        nowMs = std::uint64_t(time.toMSecsSinceEpoch() + extraMs);
        return QString::number(generator.NextId());
    }

private:
    RecordIdGenerator generator;
    std::uint64_t nowMs = 0;
};

QString Text(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Money(double value)
{
    return QString::number(value, 'f', 2);
}

// Orders per day: growth over the years, the week, winter, the festival and
// noise, scaled to the recipe's total with its busiest day exactly as asked.
QVector<int> OrdersPerDay(const Recipe& recipe, const QDate& first, int days, Random& random)
{
    std::lognormal_distribution<double> noise(0.0, 0.07);
    QVector<double> weights(days);
    for (int d = 0; d < days; ++d) {
        const QDate day = first.addDays(d);
        double w = 0.85 + 0.3 * d / days;
        w *= kWeekdayWeights[day.dayOfWeek() - 1];
        w *= 1.0 + 0.08 * std::cos(2 * kPi * (day.dayOfYear() - 15) / 365.0);
        for (const QDate& festival : kSpringFestivals) {
            const qint64 before = day.daysTo(festival);
            if (before >= 1 && before <= 3)
                w *= 1.4;
        }
        weights[d] = w * noise(random);
    }
    const int busiest = int(std::max_element(weights.begin(), weights.end()) - weights.begin());
    double others = 0.0;
    for (int d = 0; d < days; ++d)
        others += d == busiest ? 0.0 : weights[d];

    QVector<int> counts(days);
    const int rest = recipe.orders - recipe.busiestDay;
    int given = 0;
    for (int d = 0; d < days; ++d) {
        counts[d] = d == busiest ? recipe.busiestDay
                                 : std::min(recipe.busiestDay - 1, int(rest * weights[d] / others));
        given += counts[d];
    }
    // Rounding and capping leave a few orders over; they go to random quieter days.
    std::uniform_int_distribution<int> anyDay(0, days - 1);
    while (given < recipe.orders) {
        const int d = anyDay(random);
        if (counts[d] < recipe.busiestDay - 1) {
            ++counts[d];
            ++given;
        }
    }
    return counts;
}

// Lines per order: mostly a few, now and then a full basket; the total is
// exactly the recipe's.
QVector<quint8> LinesPerOrder(const Recipe& recipe, Random& random)
{
    const int most = 30;
    std::geometric_distribution<int> extra(double(recipe.orders) / recipe.orderLines);
    QVector<quint8> lines(recipe.orders);
    qint64 total = 0;
    for (quint8& count : lines) {
        count = quint8(std::min(most, 1 + extra(random)));
        total += count;
    }
    std::uniform_int_distribution<int> anyOrder(0, recipe.orders - 1);
    while (total != recipe.orderLines) {
        quint8& count = lines[anyOrder(random)];
        if (total < recipe.orderLines && count < most) {
            ++count;
            ++total;
        } else if (total > recipe.orderLines && count > 1) {
            --count;
            --total;
        }
    }
    return lines;
}

// Sorted times of `count` events on `day`, spread over the hours by weight.
QVector<QDateTime> TimesOfDay(const QDate& day, int count, std::discrete_distribution<int>& hours,
                              Random& random)
{
    std::uniform_int_distribution<int> second(0, 3599);
    QVector<QDateTime> times;
    times.reserve(count);
    for (int i = 0; i < count; ++i)
        times.append(QDateTime(day, QTime(hours(random), 0)).addSecs(second(random)));
    std::sort(times.begin(), times.end());
    return times;
}

class Filler
{
public:
    explicit Filler(const Recipe& recipe)
        : recipe(recipe), first(recipe.lastDay.addYears(-recipe.years).addDays(1)),
          popularity(MakePopularity(recipe.products))
    {
    }

    bool Run()
    {
        ok = true;
        {
            StockDb::Transaction transaction(stockDb);
            MakeProviders();
            MakeProducts();
            // A catalogue without history: every product stocked once.
            if (recipe.purchases == 0) {
                std::uniform_int_distribution<int> stock(0, 500);
                const QDateTime opening(first, QTime(9, 0));
                for (int i = 0; i < products.size(); ++i)
                    BookIn(products[i], stock(random), opening.addSecs(i), QString());
            }
            ok = ok && transaction.isActive() && transaction.commit();
        }
        if (recipe.purchases > 0)
            ok = ok && FillDays();
        return ok;
    }

private:
    static std::discrete_distribution<int> MakePopularity(int products)
    {
        QVector<double> weights(products);
        for (int rank = 0; rank < products; ++rank)
            weights[rank] = 1.0 / std::pow(rank + 1.0, 0.8);
        return std::discrete_distribution<int>(weights.begin(), weights.end());
    }

    void MakeProviders()
    {
        const QDateTime made(first.addDays(-30), QTime(10, 0));
        for (int p = 0; p < recipe.providers; ++p) {
            const QString guid = ids.At(made, p);
            providerGuids.append(guid);
            const QString number = QString::number(p + 1).rightJustified(2, QLatin1Char('0'));
            ok = ok && stockDb.InsertProvider(
                           guid, QStringLiteral("供应商") + number,
                           QStringLiteral("1380000%1").arg(p + 1, 4, 10, QLatin1Char('0')),
                           QStringLiteral("城东批发市场%1号").arg(p + 1),
                           QStringLiteral("91330100MA2%1").arg(p + 1, 7, 10, QLatin1Char('0')),
                           QStringLiteral("JY1330100%1").arg(p + 1, 7, 10, QLatin1Char('0')),
                           QStringLiteral("食品、饮料、日用品"));
        }
    }

    // The catalogue; a product reaches the database on its first booking.
    void MakeProducts()
    {
        std::set<qint64> barcodes;
        std::uniform_int_distribution<qint64> digits(0, 99999999999LL);
        std::uniform_real_distribution<double> logPrice(std::log(1.5), std::log(120.0));
        for (int i = 0; i < recipe.products; ++i) {
            qint64 code = digits(random);
            while (!barcodes.insert(code).second)
                code = digits(random);
            Product product;
            product.name = QString::fromUtf8(Pick(kBrands, random)) +
                           QString::fromUtf8(Pick(kGoods, random)) + QLatin1Char(' ') +
                           QString::fromUtf8(Pick(kSizes, random));
            product.barcode = QStringLiteral("69%1").arg(code, 11, 10, QLatin1Char('0'));
            product.providerGuid = providerGuids[i % recipe.providers];
            product.price = std::round(std::exp(logPrice(random)) * 2.0) / 2.0;
            product.retailPrice = Money(product.price);
            product.originalPrice = Money(product.price * 0.7);
            products.append(product);
        }
    }

    // The stock-in screen's booking: the purchase (none for a bare
    // catalogue), then the new product or its raised stock.
    void BookIn(Product& product, int quantity, const QDateTime& time, const QString& bill)
    {
        const QString num = QString::number(quantity);
        if (recipe.purchases > 0)
            ok = ok && stockDb.InsertPurchase(Text(time), ids.At(time), bill, product.name,
                                              product.barcode, num, product.providerGuid,
                                              product.originalPrice, product.retailPrice);
        if (product.stock < 0) {
            product.guid = ids.At(time, 1);
            product.stock = quantity;
            ok = ok && stockDb.InsertProduct(product.guid, product.name, product.barcode, num,
                                             product.providerGuid, product.originalPrice,
                                             product.retailPrice);
            ++booked;
            return;
        }
        product.stock += quantity;
        ProductInfo stored;
        stored.product_guid = product.guid;
        stored.product_num = QString::number(product.stock);
        ok = ok && stockDb.UpdateProductNum(stored);
    }

    // Products on sale: the catalogue in booking order, most popular first.
    Product& Popular() { return products[popularity(random) % std::max(booked, 1)]; }

    void PurchasesOfDay(const QDate& day, int count)
    {
        std::discrete_distribution<int> morning({0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 1});
        std::uniform_int_distribution<int> cases(1, 20);
        for (const QDateTime& time : TimesOfDay(day, count, morning, random)) {
            Product& product = purchased < recipe.products ? products[purchased] : Popular();
            ++purchased;
            // One delivery note per provider and day.
            const int provider = int(providerGuids.indexOf(product.providerGuid));
            const QString bill = day.toString(QStringLiteral("yyyyMMdd")) +
                                 QString::number(provider + 1).rightJustified(2, QLatin1Char('0'));
            BookIn(product, 6 * cases(random), time, bill);
        }
    }

    // The checkout screen's payment: the lines, then the order.
    void OrdersOfDay(const QDate& day, int count)
    {
        std::discrete_distribution<int> hours(std::begin(kHourWeights), std::end(kHourWeights));
        std::discrete_distribution<int> quantity({0, 85, 10, 2, 1, 1, 1});
        std::uniform_int_distribution<int> ms(0, 999);
        for (const QDateTime& paid : TimesOfDay(day, count, hours, random)) {
            const int lineCount = linesPerOrder[nextOrder++];
            const QString guid = ids.At(paid, ms(random));
            QVector<OrderDetailInfo> lines(lineCount);
            double total = 0.0;
            for (int j = 0; j < lineCount; ++j) {
                const Product& product = Popular();
                const int count = quantity(random);
                const double subtotal = count * product.price;
                total += subtotal;
                OrderDetailInfo& line = lines[j];
                line.order_guid = guid;
                line.order_time = Text(paid.addSecs(-4 * (lineCount - j)));
                line.order_product_name = product.name;
                line.order_product_guid = product.guid;
                line.order_product_barcode = product.barcode;
                line.order_product_num = QString::number(count);
                line.order_product_rprice = product.retailPrice;
                line.order_product_subtotal = QString::number(subtotal, 'g', 6);
            }
            const QString totalText = QString::asprintf("%0.2f", total);
            for (OrderDetailInfo& line : lines) {
                line.order_total = totalText;
                ok = ok && stockDb.InsertOrderDetail(line);
            }
            ok = ok &&
                 stockDb.InsertOrder({guid, Text(paid), totalText, QString::number(lineCount)});
        }
    }

    bool FillDays()
    {
        const int days = int(first.daysTo(recipe.lastDay)) + 1;
        const QVector<int> orders = OrdersPerDay(recipe, first, days, random);
        linesPerOrder = LinesPerOrder(recipe, random);
        QVector<int> purchases(days);
        std::uniform_int_distribution<int> anyDay(0, days - 1);
        for (int i = 0; i < recipe.purchases; ++i)
            ++purchases[anyDay(random)];

        for (int d = 0; ok && d < days;) {
            StockDb::Transaction transaction(stockDb);
            const int month = first.addDays(d).month();
            for (; ok && d < days && first.addDays(d).month() == month; ++d) {
                PurchasesOfDay(first.addDays(d), purchases[d]);
                OrdersOfDay(first.addDays(d), orders[d]);
            }
            ok = ok && transaction.isActive() && transaction.commit();
        }
        return ok;
    }

    const Recipe recipe;
    const QDate first;
    Random random{20261208};
    Ids ids;
    std::discrete_distribution<int> popularity;
    QStringList providerGuids;
    QVector<Product> products;
    QVector<quint8> linesPerOrder;
    int booked = 0;
    int purchased = 0;
    int nextOrder = 0;
    bool ok = true;
};

} // namespace

bool FillStore(const Recipe& recipe)
{
    return Filler(recipe).Run();
}
