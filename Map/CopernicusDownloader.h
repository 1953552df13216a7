// The Copernicus Data Space login, catalogue search and product downloads, stepped once per frame by
// the application update. The region screen asks for one operation at a time (log in, search,
// download) and reads the state, the message and the result list back:
// - the login is an OpenID Connect password grant, a form POST to the identity host written here;
//   the access token it answers with authorises downloads, and the refresh token that comes with it
//   gets a fresh access token (a refresh-token grant) shortly before the access token expires;
// - the search asks the catalogue host's OData product list for products over a bounding box,
//   started in a month, with at most a given cloud cover; the JSON reply fills the result list;
// - a download streams the product from the download host by append jobs into
//   "Copernicus/<name>.partial" and moves it to "Copernicus/<name>.zip" only once every byte has
//   been written; a cut or failed download deletes the partial file.
// A search or a download follows at most 5 HTTP redirects (HTTPS only); the access token goes only
// to the service's own hosts and their siblings under the download host's domain, never to a host
// the service hands a download on to.
// Host names come from DNS lookups 2 (identity), 3 (catalogue) and 4 (download); a redirect to any
// other host from lookup 6.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Network/Https.h"
#include "Platform/FileTables.h"

struct DnsResolver;
struct Socket;
struct Preferences;
struct Platform;

constexpr i32 kCopernicusIdentityLookup = 2;
constexpr i32 kCopernicusCatalogueLookup = 3;
constexpr i32 kCopernicusDownloadLookup = 4;
constexpr i32 kCopernicusRedirectLookup = 6;
constexpr u32 kCopernicusMaxRedirects = 5;
constexpr i64 kCopernicusPathBytes = 4096;        // a redirect's path and query
constexpr i32 kCopernicusMaxResults = 20;
constexpr i64 kCopernicusReplyBytes = 262144;     // a login or search reply
constexpr i64 kCopernicusTokenBytes = 4096;       // the access token
constexpr i64 kCopernicusChunkBytes = 1048576;    // product bytes gathered before an append job
constexpr i32 kCopernicusWriteJobs = 8;           // append jobs in flight; the download waits beyond
constexpr u64 kCopernicusStallTimeout = 30000000; // microseconds without progress before a request fails

// The service's host names (DNS lookups 2 to 4 ask for them) and its port (0: 443). Tests point
// them at loopback peers.
struct CopernicusService {
    const char* identityHost;
    const char* catalogueHost;
    const char* downloadHost;
    u16 port;
};
extern CopernicusService copernicusService;

enum CopernicusState : u32 {
    CopernicusIdle = 0,
    CopernicusLoginDue = 1,       // asked for; waits for the identity host's address
    CopernicusLoggingIn = 2,
    CopernicusSearchDue = 3,
    CopernicusSearching = 4,
    CopernicusDownloadDue = 5,
    CopernicusDownloading = 6,
    CopernicusFinishingDownload = 7,  // all bytes in; the append jobs and the move still running
    CopernicusRefreshDue = 8,     // the access token is due for renewal; waits for the identity host
    CopernicusRefreshing = 9,
};

struct CopernicusProduct {
    FixedString id;
    FixedString name;  // the catalogue's name, e.g. "S2A_MSIL2A_....SAFE"
    FixedString startDate;  // "2024-07-03T10:20:31.024Z"
    f64 cloudCover;  // percent; negative when the catalogue gave none
    i64 contentLength;  // bytes; 0 when unknown
};

struct CopernicusDownloader {
    u32 state;  // CopernicusState
    u32 failed;  // the last operation failed; message says why
    FixedString message;  // progress or the outcome of the last operation
    // The operation asked for.
    FixedString username;
    FixedString password;  // plain, only until the login request has been written
    Box2 searchBox;  // longitude min/max, latitude min/max in degrees
    u32 searchMonth;  // 1-12; 0: any month of the last year
    f64 maxCloudCover;
    i32 downloadIndex;  // into products
    // The login.
    u32 loggedIn;
    u64 tokenExpiry;  // microseconds on the clock, a margin before the service's own expiry
    i64 tokenLifetime;  // seconds, as the login reply gave it
    i64 tokenLength;
    u8 token[kCopernicusTokenBytes];
    u64 refreshExpiry;  // microseconds on the clock; 0: no refresh token
    i64 refreshLifetime;  // seconds, as the login reply gave it
    i64 refreshTokenLength;
    u8 refreshToken[kCopernicusTokenBytes];
    u32 downloadAfterRefresh;  // the download asked for waits for the renewed token
    // The search results.
    i32 productCount;
    CopernicusProduct products[kCopernicusMaxResults];
    // The product download.
    FixedString partialPath;  // "Copernicus/<name>.partial"
    FixedString finalName;  // "<name>.zip"
    i64 bytesReceived;
    i64 bytesTotal;  // the response's length; 0 when unknown
    i64 bytesQueued;  // handed to append jobs
    u8* chunk;  // file buffer of kCopernicusChunkBytes, handed to the next append job
    i64 chunkLength;
    u32 jobsIssued;  // append jobs (and the move) queued for this download
    u32 jobsChecked;  // of those, finished and checked
    FileJobResult jobs[kCopernicusWriteJobs + 1];  // a ring; the last job, the move, sits in it too
    u64 lastProgressTime;
    // Where the request in flight was redirected to (no redirect: an empty host).
    u32 redirects;
    FixedString redirectHost;
    u16 redirectPort;  // 0: the scheme's own
    i64 redirectPathLength;
    u8 redirectPath[kCopernicusPathBytes];
    // The request in flight.
    FixedString host;
    AddressRecord address;
    i64 replyLength;
    u32 replyOverflow;
    u8 reply[kCopernicusReplyBytes];
    HttpsGetOperation https;
    u64 (*clock)();  // null: getMicroseconds; tests set their own
    i64 (*utcClock)();  // null: currentTimeMilliseconds; tests set their own
};

// Operations the screen asks for; each replaces an idle state and is refused (false) while another
// runs.
bool startCopernicusLogin(CopernicusDownloader* downloader, const FixedString* username, const FixedString* password);
bool startCopernicusSearch(CopernicusDownloader* downloader, Box2 lonLatBox, u32 month, f64 maxCloudCover);
bool startCopernicusDownload(CopernicusDownloader* downloader, i32 productIndex);
// Ends a running operation; a download's partial file is deleted.
void cancelCopernicusOperation(CopernicusDownloader* downloader, Platform* platform);

void updateCopernicusDownloader(CopernicusDownloader* downloader, DnsResolver* resolver, Socket* socket,
                                Preferences* preferences, Platform* platform);

// Reply readers, kept apart for the tests and the fuzzer. The login reader writes the access token
// and the refresh token, when the reply has one (or returns the server's error text); the search
// reader fills the products and returns an empty text; the redirect reader takes a Location value
// (an HTTPS URL, or a path on the current host and port) into the redirect fields.
FixedString readCopernicusLoginReply(CopernicusDownloader* downloader, const u8* text, i64 length, i64 statusCode);
FixedString readCopernicusRedirect(CopernicusDownloader* downloader, const u8* location, i64 length);
FixedString readCopernicusSearchReply(CopernicusDownloader* downloader, const u8* text, i64 length);
// The catalogue query's path and query text (percent-encoded) for the box, month and cloud cover,
// with the month's year taken from utcMs.
void appendCopernicusSearchPath(Box2 lonLatBox, u32 month, f64 maxCloudCover, i64 utcMs, ByteWriter* writer);
