#pragma once

#include <QString>
#include <QVector>

// One plain value record per table. Every field is the column's text, in
// column order, exactly as it was read from or written to SQL.

struct ProviderInfo
{
    QString provider_guid;
    QString provider_name;
    QString provider_phone;
    QString provider_address;
    QString provider_license;
    QString provider_foodlicense;
    QString provider_business;
};

struct ProductInfo
{
    QString product_guid;
    QString product_name;
    QString product_barcode;
    QString product_num;
    QString product_provider_guid;
    QString product_original_price;
    QString product_wholesale_price;
    QString product_retail_price;
};

struct PurchaseInfo
{
    QString purchase_guid;
    QString purchase_time;
    QString purchase_id;
    QString purchase_product_guid;
    QString purchase_product_name;
    QString purchase_product_barcode;
    QString purchase_product_num;
    QString purchase_provider_guid;
    QString purchase_product_oprice;
    QString purchase_product_wprice;
    QString purchase_product_rprice;
};

struct OrderInfo
{
    QString order_guid;
    QString order_time;
    QString order_total;
    QString order_ptnum;
};

struct OrderDetailInfo
{
    QString order_guid;
    QString order_time;
    QString order_total;
    QString order_product_name;
    QString order_product_guid;
    QString order_product_barcode;
    QString order_product_num;
    QString order_product_rprice;
    QString order_product_subtotal;
};

// One barcode at one unit price of a sale: what the sale sold, what its
// returns took back so far, and what a return takes now.
struct ReturnLine
{
    QString name;
    QString product_guid;
    QString barcode;
    QString price;
    qint64 sold = 0;
    qint64 returned = 0;
    qint64 quantity = 0;
};

using ProviderList = QVector<ProviderInfo>;
using ProductList = QVector<ProductInfo>;
using PurchaseList = QVector<PurchaseInfo>;
using OrderList = QVector<OrderInfo>;
using OrderDetailList = QVector<OrderDetailInfo>;
using ReturnLineList = QVector<ReturnLine>;

// Figures read for the statistics. Money is in whole cents, rounded once
// where the store hands the sums over, so that adding them up stays exact.

// The orders paid on one day ("yyyy-MM-dd") and the sum of their totals.
struct DaySales
{
    QString day;
    qint64 orders = 0;
    qint64 turnoverCents = 0;
};

// The lines of one barcode, named as its latest line.
struct ProductSales
{
    QString name;
    QString barcode;
    qint64 quantity = 0;
    qint64 turnoverCents = 0;
};

// Days with sales in order; the products with the highest turnover, ties
// in barcode order; the quantity of all lines.
struct PeriodSales
{
    QVector<DaySales> days;
    QVector<ProductSales> topProducts;
    qint64 items = 0;
};
