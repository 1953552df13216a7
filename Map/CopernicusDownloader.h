// The Copernicus Data Space login, catalogue search and satellite-image downloads as the application
// update steps them. For now the step does nothing; the satellite-image downloader replaces this.
#pragma once
#include "Core/Types.h"

struct DnsResolver;
struct Socket;
struct Preferences;
struct Platform;

struct CopernicusDownloader {
    u32 state;
};

void updateCopernicusDownloader(CopernicusDownloader* downloader, DnsResolver* resolver, Socket* socket,
                                Preferences* preferences, Platform* platform);
