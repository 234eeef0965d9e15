#pragma once

#include <QByteArray>
#include <QList>
#include <curl/curl.h>
#include <functional>

// Settings of one fetch. Every field with "off" as its default enables a
// feature only when set.
struct HttpFetchOptions
{
    bool captureBody = true;
    bool noGlobalDnsCache = true;
    long followLocation = 1;
    // Only applied when the caller gives a connect time-out.
    long totalTimeoutSeconds = 60;
    bool resetBeforeFetch = true;
    QByteArray userAgent = "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like "
                           "Gecko) Chrome/36.0.1985.143 Safari/537.36";
    // When empty the four browser-like default lines are sent.
    QList<QByteArray> headerLines;

    bool captureHeaders = false;
    // The explicit opt-out of certificate checks, for every scheme.
    bool skipTlsVerify = false;
    QByteArray extraHeader1;
    QByteArray extraHeader2;
    QByteArray cookieHeader;
    bool useCookieFile = false;
    QByteArray cookieFile = "CKTemp.x";
    bool useCookieList = false;
    // Replaced after every fetch by the cookies the handle holds, one per "\r\n"-ended line.
    QByteArray cookieList;
    QByteArray proxy;
    QByteArray interfaceName;
    bool preVisit = false;
    QByteArray preVisitUrl;
};

// Blocking HTTP(S) GET over one libcurl easy handle. The handle belongs to
// the owner, who creates it with curl_easy_init and releases it with
// curl_easy_cleanup; a fresh connection is opened for every fetch.
class HttpFetcher
{
public:
    // A reply body may not grow past this; the fetch then fails.
    static constexpr long long kMaxBodyBytes = 1024 * 1024;
    static constexpr long kMaxRedirects = 5;

    HttpFetchOptions options;

    void SetHandle(CURL* h) { handle = h; }
    CURL* Handle() const { return handle; }

    // Polled while a transfer runs (about once a second even when no data
    // moves); returning true ends the fetch as failed.
    void SetStopCheck(std::function<bool()> check) { stopCheck = std::move(check); }

    // output receives the body, or an error text when the result is false.
    // connectTimeoutSeconds 0 leaves libcurl's own time-outs in force.
    bool Fetch(QByteArray& output, const QByteArray& url, long connectTimeoutSeconds);

    // Results of the last fetch.
    int CurlCode() const { return curlCode; }
    const QByteArray& ErrorText() const { return errorText; }
    long HttpCode() const { return httpCode; }
    const QByteArray& BodyText() const { return bodyText; }
    // Accumulates over all fetches made with captureHeaders.
    const QByteArray& HeaderText() const { return headerText; }
    const QByteArray& PrimaryIp() const { return primaryIp; }
    const QByteArray& EffectiveUrl() const { return effectiveUrl; }
    long RedirectCount() const { return redirectCount; }
    double NameLookupSeconds() const { return nameLookupSeconds; }
    double ConnectSeconds() const { return connectSeconds; }
    double PreTransferSeconds() const { return preTransferSeconds; }
    double StartTransferSeconds() const { return startTransferSeconds; }
    double TotalSeconds() const { return totalSeconds; }

private:
    curl_slist* BuildHeaderList(bool withExtras) const;
    void SetGuardOptions();
    void SetBodySink();
    void ApplyCookieLines(const QByteArray& lines);
    QByteArray CookieLines();
    int Perform();
    QByteArray PreVisitCookies();
    void ReadResults();

    static size_t BodySink(char* data, size_t size, size_t count, void* fetcher);
    static size_t HeaderSink(char* data, size_t size, size_t count, void* fetcher);
    static int ProgressCheck(void* fetcher, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CURL* handle = nullptr;
    std::function<bool()> stopCheck;
    long long bodyBytesSeen = 0;
    bool bodyTooLarge = false;

    int curlCode = 0;
    QByteArray errorText;
    long httpCode = 0;
    QByteArray bodyText;
    QByteArray headerText;
    QByteArray primaryIp = "0.0.0.0";
    QByteArray effectiveUrl;
    long redirectCount = 0;
    double nameLookupSeconds = 0;
    double connectSeconds = 0;
    double preTransferSeconds = 0;
    double startTransferSeconds = 0;
    double totalSeconds = 0;
};
