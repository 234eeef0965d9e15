#include "support_UrlCatcher.h"

#include <QDesktopServices>

namespace {
const char* const kSchemes[] = {"http", "https", "file", "mailto"};
}

UrlCatcher::UrlCatcher()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

UrlCatcher::~UrlCatcher()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void UrlCatcher::open(const QUrl& url)
{
    opened << url;
}
