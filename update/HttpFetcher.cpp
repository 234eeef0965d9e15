#include "update/HttpFetcher.h"

#include <cstring>

namespace {
const char* const kDefaultHeaderLines[] = {
    "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Charset:GBK,utf-8;q=0.7,*;q=0.3",
    "Accept-Language:zh-CN,zh;q=0.8",
    "Accept-Encoding:gzip,deflate,sdch",
};

// The sinks keep plain byte strings: a chunk ends at its first zero byte.
void AppendUpToZero(QByteArray& target, const char* data, size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    target.append(data, zero ? static_cast<const char*>(zero) - data : static_cast<int>(size));
}

curl_slist* Append(curl_slist* list, const QByteArray& line)
{
    return curl_slist_append(list, line.constData());
}
} // namespace

bool HttpFetcher::Fetch(QByteArray& output, const QByteArray& url, long connectTimeoutSeconds)
{
    if (!handle) {
        output = "curl_easy_init Failed";
        return false;
    }
    if (options.resetBeforeFetch)
        curl_easy_reset(handle);
    QByteArray preVisitCookies;
    if (options.preVisit && !options.preVisitUrl.isEmpty())
        preVisitCookies = PreVisitCookies();

    curl_slist* headers = BuildHeaderList(true);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip");
    if (connectTimeoutSeconds != 0) {
        curl_easy_setopt(handle, CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    }
    if (!options.proxy.isEmpty())
        curl_easy_setopt(handle, CURLOPT_PROXY, options.proxy.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    SetGuardOptions();

    if (options.captureHeaders) {
        curl_easy_setopt(handle, CURLOPT_HEADER, 1L);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &HttpFetcher::HeaderSink);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
    } else {
        curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
    }
    if (options.noGlobalDnsCache) {
        // Deprecated, and a no-op in current libcurl; older ones still share
        // a process-wide DNS cache unless told not to.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        curl_easy_setopt(handle, CURLOPT_DNS_USE_GLOBAL_CACHE, 0L);
#pragma GCC diagnostic pop
    }
    // Without captureBody the page is still fetched with GET; the sink drops it.
    if (options.captureBody)
        curl_easy_setopt(handle, CURLOPT_NOBODY, 0L);
    else
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    SetBodySink();
    curl_easy_setopt(handle, CURLOPT_USERAGENT, options.userAgent.constData());

    if (options.useCookieList) {
        if (!options.cookieList.isEmpty())
            ApplyCookieLines(options.cookieList);
        else
            curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    }
    ApplyCookieLines(preVisitCookies);
    if (!options.cookieHeader.isEmpty())
        curl_easy_setopt(handle, CURLOPT_COOKIE, options.cookieHeader.constData());

    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, options.followLocation);
    if (options.useCookieFile) {
        curl_easy_setopt(handle, CURLOPT_COOKIEFILE, options.cookieFile.constData());
        curl_easy_setopt(handle, CURLOPT_COOKIEJAR, options.cookieFile.constData());
    }
    if (!options.interfaceName.isEmpty())
        curl_easy_setopt(handle, CURLOPT_INTERFACE, options.interfaceName.constData());

    curlCode = Perform();
    errorText = curl_easy_strerror(static_cast<CURLcode>(curlCode));
    curl_slist_free_all(headers);

    ReadResults();
    output = bodyText;
    // A transfer libcurl gave up on (time-out, cut connection, too large,
    // stopped) is a failure even when part of a body had arrived.
    if (curlCode == CURLE_OK && (!output.isEmpty() || httpCode == 200))
        return true;
    output = ("Down page Failed Error Code is " +
              QByteArray::number(static_cast<qlonglong>(httpCode)) + "=" + errorText)
                 .left(259);
    return false;
}

curl_slist* HttpFetcher::BuildHeaderList(bool withExtras) const
{
    curl_slist* list = nullptr;
    if (options.headerLines.isEmpty()) {
        for (const char* line : kDefaultHeaderLines)
            list = curl_slist_append(list, line);
    } else {
        for (const QByteArray& line : options.headerLines) {
            if (!line.isEmpty())
                list = Append(list, line);
        }
    }
    if (withExtras) {
        if (!options.extraHeader1.isEmpty())
            list = Append(list, options.extraHeader1);
        if (!options.extraHeader2.isEmpty())
            list = Append(list, options.extraHeader2);
    }
    return list;
}

// What keeps a fetch from being hijacked or from running away: checked
// certificates, web schemes only (also after a redirect), a bounded redirect
// chain and body, and a way to stop a transfer that stalls.
void HttpFetcher::SetGuardOptions()
{
    if (options.skipTlsVerify) {
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &HttpFetcher::ProgressCheck);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
}

void HttpFetcher::SetBodySink()
{
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &HttpFetcher::BodySink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
}

// The handle takes one cookie per call, so the lines go in one by one.
void HttpFetcher::ApplyCookieLines(const QByteArray& lines)
{
    for (QByteArray cookie : lines.split('\n')) {
        if (cookie.endsWith('\r'))
            cookie.chop(1);
        if (!cookie.isEmpty())
            curl_easy_setopt(handle, CURLOPT_COOKIELIST, cookie.constData());
    }
}

QByteArray HttpFetcher::CookieLines()
{
    QByteArray lines;
    curl_slist* cookies = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &cookies) != CURLE_OK)
        return lines;
    for (const curl_slist* each = cookies; each; each = each->next)
        lines += QByteArray(each->data) + "\r\n";
    curl_slist_free_all(cookies);
    return lines;
}

int HttpFetcher::Perform()
{
    bodyText.clear();
    bodyBytesSeen = 0;
    bodyTooLarge = false;
    const CURLcode code = curl_easy_perform(handle);
    return bodyTooLarge ? CURLE_FILESIZE_EXCEEDED : code;
}

QByteArray HttpFetcher::PreVisitCookies()
{
    curl_slist* headers = BuildHeaderList(false);
    curl_easy_setopt(handle, CURLOPT_URL, options.preVisitUrl.constData());
    SetGuardOptions();
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_HEADER, 1L);
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    SetBodySink();
    curl_easy_setopt(handle, CURLOPT_USERAGENT, options.userAgent.constData());
    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, options.followLocation);
    Perform();
    curl_slist_free_all(headers);
    return CookieLines();
}

void HttpFetcher::ReadResults()
{
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &httpCode);
    curl_easy_getinfo(handle, CURLINFO_NAMELOOKUP_TIME, &nameLookupSeconds);
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME, &connectSeconds);
    curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME, &preTransferSeconds);
    curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME, &startTransferSeconds);
    curl_easy_getinfo(handle, CURLINFO_TOTAL_TIME, &totalSeconds);
    options.cookieList = CookieLines();
    char* text = nullptr;
    effectiveUrl = curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &text) == CURLE_OK && text
                       ? QByteArray(text)
                       : QByteArray();
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_COUNT, &redirectCount);
    text = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &text) == CURLE_OK && text && *text)
        primaryIp = text;
}

size_t HttpFetcher::BodySink(char* data, size_t size, size_t count, void* fetcher)
{
    auto* self = static_cast<HttpFetcher*>(fetcher);
    const size_t total = size * count;
    // Counted here because a reply of unknown or compressed size passes
    // libcurl's own size limit; a short count makes libcurl abort.
    self->bodyBytesSeen += static_cast<long long>(total);
    if (self->bodyBytesSeen > kMaxBodyBytes) {
        self->bodyTooLarge = true;
        return 0;
    }
    if (self->options.captureBody)
        AppendUpToZero(self->bodyText, data, total);
    return total;
}

size_t HttpFetcher::HeaderSink(char* data, size_t size, size_t count, void* fetcher)
{
    const size_t total = size * count;
    AppendUpToZero(static_cast<HttpFetcher*>(fetcher)->headerText, data, total);
    return total;
}

int HttpFetcher::ProgressCheck(void* fetcher, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* self = static_cast<const HttpFetcher*>(fetcher);
    return self->stopCheck && self->stopCheck() ? 1 : 0;
}
