// Certificate bytes from the fuzzer: the DER parser, then, for what parses, the signature check with
// the certificate's own key, the host-name match, its names against its own name constraints and a
// one-certificate chain judged against a store holding the same certificate. The input is also read
// as a PEM bundle.
#include <cstring>
#include <memory>

#include "Crypto/X509Verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TrustStore* store = new TrustStore();
    if (size > 65536) return 0;
    X509Certificate certificate;
    if (parseX509Certificate(&certificate, data, (u32)size).length == 0) {
        verifyX509Signature(&certificate, &certificate);
        certificateMatchesHost(&certificate, (const u8*)"tiles.example.com", 17);
        certificateMatchesHost(&certificate, (const u8*)"::1", 3);
        certificateNamesAllowed(&certificate, &certificate);
        memset(store, 0, sizeof(TrustStore));
        addTrustAnchor(store, data, (u32)size);
        FixedString message, host = makeString("localhost");
        verifyServerChain(&message, &certificate, 1, store, &host, 1800000000);
    }
    memset(store, 0, sizeof(TrustStore));
    addPemTrustAnchors(store, data, size);
    return 0;
}
