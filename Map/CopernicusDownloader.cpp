#include "Map/CopernicusDownloader.h"

void updateCopernicusDownloader(CopernicusDownloader* downloader, DnsResolver* resolver, Socket* socket,
                                Preferences* preferences, Platform* platform) {
    (void)downloader;
    (void)resolver;
    (void)socket;
    (void)preferences;
    (void)platform;
}
