// Endpoint texts and URLs from untrusted input: settings files, typed fields, server replies.
#include "Network/Address.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    u64 position = 0;
    AddressRecord record = parseIpAddress(data, &position, (i64)size);
    if (position > size) {
        std::abort();
    }
    if (record.family != 0) {
        // Whatever was read prints and reads back as the same endpoint.
        FixedString printed = endpointString(&record);
        u64 again = 0;
        AddressRecord reparsed = parseIpAddress((const u8*)printed.text, &again, printed.length);
        if (!sameEndpoint(&record, &reparsed) || again != printed.length) {
            std::abort();
        }
    }
    ByteWriter url{(i64)size, (i64)size, 0, (u8*)data};
    ParsedUrl parts = parseUrl(&url);
    if (parts.path.length > 0 && (parts.path.data < data || parts.path.data + parts.path.length != data + size ||
                                  parts.path.data[0] != '/')) {
        std::abort();
    }
    return 0;
}
