// How rows of the store become records and records become values: the
// one place where a record's fields line up with its table's columns.
#pragma once

#include "store/StockDb.h"

#include <QSqlQuery>
#include <QVariant>
#include <iterator>

// The fields of each record in column order: the one place where a row of
// "select *" and the values of a record line up with the table.
template <typename Record> struct Columns;

template <> struct Columns<ProviderInfo>
{
    static constexpr QString ProviderInfo::*fields[] = {
        &ProviderInfo::provider_guid,     &ProviderInfo::provider_name,
        &ProviderInfo::provider_phone,    &ProviderInfo::provider_address,
        &ProviderInfo::provider_license,  &ProviderInfo::provider_foodlicense,
        &ProviderInfo::provider_business,
    };
};

template <> struct Columns<ProductInfo>
{
    static constexpr QString ProductInfo::*fields[] = {
        &ProductInfo::product_guid,
        &ProductInfo::product_name,
        &ProductInfo::product_barcode,
        &ProductInfo::product_num,
        &ProductInfo::product_provider_guid,
        &ProductInfo::product_original_price,
        &ProductInfo::product_wholesale_price,
        &ProductInfo::product_retail_price,
    };
};

template <> struct Columns<PurchaseInfo>
{
    static constexpr QString PurchaseInfo::*fields[] = {
        &PurchaseInfo::purchase_guid,
        &PurchaseInfo::purchase_time,
        &PurchaseInfo::purchase_id,
        &PurchaseInfo::purchase_product_guid,
        &PurchaseInfo::purchase_product_name,
        &PurchaseInfo::purchase_product_barcode,
        &PurchaseInfo::purchase_product_num,
        &PurchaseInfo::purchase_provider_guid,
        &PurchaseInfo::purchase_product_oprice,
        &PurchaseInfo::purchase_product_wprice,
        &PurchaseInfo::purchase_product_rprice,
    };
};

template <> struct Columns<OrderInfo>
{
    static constexpr QString OrderInfo::*fields[] = {
        &OrderInfo::order_guid,
        &OrderInfo::order_time,
        &OrderInfo::order_total,
        &OrderInfo::order_ptnum,
    };
};

template <> struct Columns<OrderDetailInfo>
{
    static constexpr QString OrderDetailInfo::*fields[] = {
        &OrderDetailInfo::order_guid,
        &OrderDetailInfo::order_time,
        &OrderDetailInfo::order_total,
        &OrderDetailInfo::order_product_name,
        &OrderDetailInfo::order_product_guid,
        &OrderDetailInfo::order_product_barcode,
        &OrderDetailInfo::order_product_num,
        &OrderDetailInfo::order_product_rprice,
        &OrderDetailInfo::order_product_subtotal,
    };
};

template <typename Record> Record RecordOfRow(const QSqlQuery& query)
{
    Record record;
    int column = 0;
    for (QString Record::*field : Columns<Record>::fields) {
        // A NULL number reads as "0" from the server's driver; the file's reads as empty.
        const QVariant value = query.value(column++);
        record.*field = value.isNull() ? QString() : value.toString();
    }
    return record;
}

template <typename Record> QStringList ValuesOf(const Record& record)
{
    QStringList values;
    for (QString Record::*field : Columns<Record>::fields)
        values.append(record.*field);
    return values;
}

template <typename Record> QVector<Record> StockDb::AllRows(QSqlQuery query, qint64* lastRowid)
{
    // A page's rowid stands right after the record's columns.
    const int rowidColumn = int(std::size(Columns<Record>::fields));
    QVector<Record> records;
    qint64 last = 0;
    while (query.next()) {
        records.append(RecordOfRow<Record>(query));
        if (lastRowid)
            last = query.value(rowidColumn).toLongLong();
    }
    if (!ReadToTheEnd(query))
        records.clear();
    if (lastRowid && !records.isEmpty())
        *lastRowid = last;
    return records;
}

// Several matches: the last one in table order wins.
template <typename Record> Record StockDb::LastRow(QSqlQuery query)
{
    const QVector<Record> records = AllRows<Record>(query);
    return records.isEmpty() ? Record() : records.last();
}
