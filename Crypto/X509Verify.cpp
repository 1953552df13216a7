#include "Crypto/X509Verify.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"

namespace {

u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? (u8)(c + 32) : c; }

bool equalNoCase(const u8* a, const u8* b, u32 length) {
    for (u32 i = 0; i < length; i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool dnsNameMatches(const u8* pattern, u32 patternLength, const u8* host, u32 hostLength) {
    if (patternLength && pattern[patternLength - 1] == '.') patternLength--;
    if (patternLength == 0 || hostLength == 0) return false;
    // a zero byte belongs to no DNS name: "a.example.com\0.evil.net" is not a name of a.example.com
    if (memchr(pattern, 0, patternLength) || memchr(host, 0, hostLength)) return false;
    if (patternLength >= 2 && pattern[0] == '*' && pattern[1] == '.') {
        // "*.example.com": one whole leftmost label, and at least two labels after the star
        const u8* suffix = pattern + 1;  // ".example.com"
        u32 suffixLength = patternLength - 1;
        u32 dots = 0;
        for (u32 i = 0; i < suffixLength; i++) dots += suffix[i] == '.';
        if (dots < 2) return false;
        u32 firstDot = 0;
        while (firstDot < hostLength && host[firstDot] != '.') firstDot++;
        if (firstDot == 0 || firstDot == hostLength) return false;
        return hostLength - firstDot == suffixLength && equalNoCase(host + firstDot, suffix, suffixLength);
    }
    for (u32 i = 0; i < patternLength; i++)
        if (pattern[i] == '*') return false;  // stars elsewhere are not honoured
    return patternLength == hostLength && equalNoCase(pattern, host, hostLength);
}

bool parseIpv4(u8* out, const u8* text, u32 length) {
    u32 part = 0, digits = 0, value = 0;
    for (u32 i = 0; i <= length; i++) {
        if (i == length || text[i] == '.') {
            if (digits == 0 || part == 4) return false;
            out[part++] = (u8)value;
            digits = value = 0;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') return false;
        if (digits > 0 && value == 0) return false;  // no leading zeros
        value = value * 10 + (u32)(text[i] - '0');
        if (++digits > 3 || value > 255) return false;
    }
    return part == 4;
}

i32 hexValue(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parseIpv6(u8* out, const u8* text, u32 length) {
    if (length >= 2 && text[0] == '[' && text[length - 1] == ']') {
        text++;
        length -= 2;
    }
    u16 groups[8];
    i32 count = 0, gap = -1;
    u32 i = 0;
    if (length >= 2 && text[0] == ':' && text[1] == ':') {
        gap = 0;
        i = 2;
    } else if (length && text[0] == ':') {
        return false;
    }
    while (i < length) {
        if (count == 8) return false;
        u32 start = i, value = 0;
        while (i < length && hexValue(text[i]) >= 0 && i - start < 4) value = value << 4 | (u32)hexValue(text[i++]);
        if (i == start) return false;
        if (i < length && text[i] == '.') {  // an IPv4 tail
            if (count > 6) return false;
            u8 v4[4];
            if (!parseIpv4(v4, text + start, length - start)) return false;
            groups[count++] = (u16)(v4[0] << 8 | v4[1]);
            groups[count++] = (u16)(v4[2] << 8 | v4[3]);
            i = length;
            break;
        }
        groups[count++] = (u16)value;
        if (i == length) break;
        if (text[i] != ':') return false;
        i++;
        if (i < length && text[i] == ':') {
            if (gap >= 0) return false;
            gap = count;
            i++;
        } else if (i == length) {
            return false;  // a single trailing colon
        }
    }
    if (gap < 0 && count != 8) return false;
    if (gap >= 0 && count > 7) return false;
    memset(out, 0, 16);
    i32 tail = gap < 0 ? 0 : count - gap;
    for (i32 g = 0; g < count; g++) {
        i32 slot = (gap >= 0 && g >= gap) ? 8 - tail + (g - gap) : g;
        out[2 * slot] = (u8)(groups[g] >> 8);
        out[2 * slot + 1] = (u8)groups[g];
    }
    return true;
}

FixedString hostText(const FixedString* hostName) {
    return hostName && hostName->length ? *hostName : makeString("(no host name)");
}

bool isCertificateAuthority(const X509Certificate* c) {
    if (!c->hasBasicConstraints || !c->isCa) return false;
    return !c->hasKeyUsage || (c->keyUsage & X509KeyUsageKeyCertSign);
}

bool sameCertificate(const X509Certificate* a, const X509Certificate* b) {
    return a->derLength == b->derLength && memcmp(a->der, b->der, a->derLength) == 0;
}

bool endsWithNoCase(const u8* text, u32 length, const u8* suffix, u32 suffixLength) {
    return length >= suffixLength && equalNoCase(text + length - suffixLength, suffix, suffixLength);
}

// RFC 5280 DNS subtrees: "example.com" holds itself and every name below it, ".example.com" only
// the names below it, the empty name everything. A leftmost "*" counts as a label of its own.
bool dnsNameWithin(const u8* name, u32 length, const u8* base, u32 baseLength) {
    if (length && name[length - 1] == '.') length--;
    if (baseLength && base[baseLength - 1] == '.') baseLength--;
    if (baseLength == 0) return true;
    if (base[0] == '.') return length > baseLength && endsWithNoCase(name, length, base, baseLength);
    if (length == baseLength) return equalNoCase(name, base, length);
    return length > baseLength && name[length - baseLength - 1] == '.' && endsWithNoCase(name, length, base, baseLength);
}

// Whether some name that the wildcard "*.rest" stands for lies in the excluded subtree base: base is
// one label directly under rest ("bad.rest"), or holds rest itself.
bool wildcardReaches(const u8* name, u32 length, const u8* base, u32 baseLength) {
    if (length < 2 || name[0] != '*' || name[1] != '.') return false;
    if (length && name[length - 1] == '.') length--;
    if (baseLength && base[baseLength - 1] == '.') baseLength--;
    const u8* rest = name + 2;
    u32 restLength = length - 2;
    if (baseLength == 0 || base[0] == '.') return false;
    if (baseLength <= restLength + 1 || base[baseLength - restLength - 1] != '.' ||
        !endsWithNoCase(base, baseLength, rest, restLength))
        return false;
    return memchr(base, '.', baseLength - restLength - 1) == nullptr;
}

bool addressWithin(const u8* address, u32 length, const u8* base, u32 baseLength) {
    if (baseLength != 2 * length) return false;
    for (u32 i = 0; i < length; i++)
        if ((address[i] & base[length + i]) != (base[i] & base[length + i])) return false;
    return true;
}

}  // namespace

bool certificateNamesAllowed(const X509Certificate* subject, const X509Certificate* issuer) {
    for (u32 n = 0; n < subject->nameCount; n++) {
        u8 type = subject->nameTypes[n];
        const u8* name = x509Bytes(subject, subject->names[n]);
        u32 length = subject->names[n].length;
        bool anyPermitted = false, permitted = false;
        for (u32 c = 0; c < issuer->constraintCount; c++) {
            if (issuer->constraintTypes[c] != type) continue;
            const u8* base = x509Bytes(issuer, issuer->constraints[c]);
            u32 baseLength = issuer->constraints[c].length;
            bool within = type == X509NameDns ? dnsNameWithin(name, length, base, baseLength)
                                              : addressWithin(name, length, base, baseLength);
            if (issuer->constraintExcluded[c]) {
                if (within || (type == X509NameDns && wildcardReaches(name, length, base, baseLength))) return false;
            } else {
                anyPermitted = true;
                permitted = permitted || within;
            }
        }
        if (anyPermitted && !permitted) return false;
    }
    return true;
}

u32 parseNumericHost(u8* out, const u8* text, u32 length) {
    if (parseIpv4(out, text, length)) return 4;
    bool colon = false;
    for (u32 i = 0; i < length; i++) colon |= text[i] == ':';
    if (colon && parseIpv6(out, text, length)) return 16;
    return 0;
}

bool certificateMatchesHost(const X509Certificate* certificate, const u8* host, u32 hostLength) {
    if (hostLength && host[hostLength - 1] == '.') hostLength--;
    u8 address[16];
    u32 addressLength = parseNumericHost(address, host, hostLength);
    for (u32 i = 0; i < certificate->nameCount; i++) {
        const u8* name = x509Bytes(certificate, certificate->names[i]);
        u32 length = certificate->names[i].length;
        if (addressLength) {
            if (certificate->nameTypes[i] == X509NameIp && length == addressLength &&
                memcmp(name, address, length) == 0)
                return true;
        } else if (certificate->nameTypes[i] == X509NameDns && dnsNameMatches(name, length, host, hostLength)) {
            return true;
        }
    }
    return false;
}

u8 verifyServerChain(FixedString* message, const X509Certificate* chain, u32 count, const TrustStore* store,
                     const FixedString* hostName, i64 now) {
    ProfilingScope scope("Verify certificate chain");
    FixedString host = hostText(hostName);
    *message = FixedString{};
    if (count == 0) {
        *message = formatStr("No certificate from @", host);
        return ChainBadCertificate;
    }
    if (!store || store->count == 0) {
        *message = formatStr("Can't check the certificate of @: no trusted certificates loaded", host);
        return ChainUnknownIssuer;
    }
    if (count > kMaxChainCertificates) count = kMaxChainCertificates;
    // Walk from the server's certificate up: at each step an anchor that signed the current
    // certificate ends the walk; otherwise a CA certificate of the chain that signed it goes on.
    const X509Certificate* path[kMaxChainCertificates + 1];
    u32 pathLength = 0;
    bool usedFromChain[kMaxChainCertificates] = {true};
    const X509Certificate* current = &chain[0];
    path[pathLength++] = current;
    X509Certificate anchor;
    bool trusted = false;
    while (!trusted) {
        bool issuerNamed = false;
        bool pathTooLong = false;  // an issuer's path length leaves no room for the CAs below it
        FixedString signatureProblem = {};
        for (u32 a = 0; a < store->count && !trusted; a++) {
            if (!trustAnchor(store, a, &anchor)) continue;
            if (sameCertificate(&anchor, current)) {
                trusted = true;  // the certificate itself is trusted
                break;
            }
            if (!x509SpansEqual(&anchor, anchor.subject, current, current->issuer)) continue;
            issuerNamed = true;
            if (anchor.version == 3 && !isCertificateAuthority(&anchor)) continue;  // v1 roots carry no flags
            FixedString problem = verifyX509Signature(current, &anchor);
            if (problem.length) {
                signatureProblem = problem;
                continue;
            }
            if (anchor.pathLength >= 0 && (i32)pathLength - 1 > anchor.pathLength) {
                pathTooLong = true;
                continue;
            }
            trusted = true;
            path[pathLength++] = &anchor;
        }
        if (trusted) break;
        const X509Certificate* next = nullptr;
        for (u32 i = 1; i < count && !next; i++) {
            if (usedFromChain[i] || !x509SpansEqual(&chain[i], chain[i].subject, current, current->issuer)) continue;
            issuerNamed = true;
            if (!isCertificateAuthority(&chain[i])) continue;
            FixedString problem = verifyX509Signature(current, &chain[i]);
            if (problem.length) {
                signatureProblem = problem;
                continue;
            }
            if (chain[i].pathLength >= 0 && (i32)pathLength - 1 > chain[i].pathLength) {
                pathTooLong = true;
                continue;
            }
            usedFromChain[i] = true;
            next = &chain[i];
        }
        if (!next) {
            if (signatureProblem.length) {
                *message = formatStrStr("Certificate of @ rejected: @", host, signatureProblem);
                return ChainBadCertificate;
            }
            if (pathTooLong) {
                *message = formatStr("Certificate chain of @ is longer than its issuer allows", host);
                return ChainBadCertificate;
            }
            bool selfSigned = x509SpansEqual(current, current->issuer, current, current->subject);
            if (pathLength == 1 && selfSigned)
                *message = formatStr("Certificate of @ is self-signed and not trusted", host);
            else if (issuerNamed)
                *message = formatStr("Certificate of @ rejected: its issuer is not a certificate authority", host);
            else
                *message = formatStr("Certificate of @ is from an unknown authority", host);
            return issuerNamed && !selfSigned ? ChainBadCertificate : ChainUnknownIssuer;
        }
        if (pathLength == kMaxChainCertificates) {
            *message = formatStr("Certificate chain of @ is too long", host);
            return ChainUnknownIssuer;
        }
        path[pathLength++] = next;
        current = next;
    }
    for (u32 i = 0; i < pathLength; i++) {
        if (now < path[i]->notBefore) {
            *message = formatStr(i == 0 ? "Certificate of @ is not yet valid" : "Certificate chain of @ is not yet valid",
                                 host);
            return ChainExpired;
        }
        if (now > path[i]->notAfter) {
            *message = formatStr(i == 0 ? "Certificate of @ has expired" : "Certificate chain of @ has expired", host);
            return ChainExpired;
        }
    }
    // Name constraints of each issuer on the path hold for every certificate below it (a CA that
    // issued itself again is not held to them).
    for (u32 i = 1; i < pathLength; i++) {
        const X509Certificate* issuer = path[i];
        if (!issuer->hasNameConstraints) continue;
        if (issuer->constraintsCut) {
            *message = formatStr("Certificate chain of @ has more name constraints than can be checked", host);
            return ChainBadCertificate;
        }
        for (u32 j = 0; j < i; j++) {
            const X509Certificate* below = path[j];
            if (j > 0 && x509SpansEqual(below, below->issuer, below, below->subject)) continue;
            if (below->namesCut || !certificateNamesAllowed(below, issuer)) {
                *message = formatStr(j == 0 ? "Certificate of @ names a host its issuer may not certify"
                                            : "Certificate chain of @ breaks its issuer's name constraints",
                                     host);
                return ChainBadCertificate;
            }
        }
    }
    const X509Certificate* leaf = &chain[0];
    if (leaf->hasKeyUsage && !(leaf->keyUsage & X509KeyUsageDigitalSignature)) {
        *message = formatStr("Certificate of @ is not for signing", host);
        return ChainBadCertificate;
    }
    if (leaf->hasExtendedKeyUsage && !leaf->serverAuth) {
        *message = formatStr("Certificate of @ is not for servers", host);
        return ChainBadCertificate;
    }
    if (!hostName || !certificateMatchesHost(leaf, (const u8*)hostName->text, hostName->length)) {
        *message = formatStr("Certificate is not for @", host);
        return ChainBadCertificate;
    }
    return ChainTrusted;
}
