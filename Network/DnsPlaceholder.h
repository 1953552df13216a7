// The built-in DNS server list, used when the system names no servers.
#pragma once
#include "Platform/Platform.h"

DnsServerList setDefaultDnsServers();
