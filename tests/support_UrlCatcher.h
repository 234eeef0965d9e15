#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the browser and every other program an address could start:
// while it lives, every address the program asks to open is only recorded.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;

    QList<QUrl> opened;

public slots:
    void open(const QUrl& url);
};
