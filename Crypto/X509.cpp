#include "Crypto/X509.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Crypto/Ecdsa.h"
#include "Crypto/Rsa.h"

namespace {

// One DER element: its tag, where it begins (tag byte) and its content.
struct DerItem {
    u8 tag;
    u32 start;
    u32 contentStart;
    u32 length;
    u32 end() const { return contentStart + length; }
};

// A reader over [position, end) of the certificate's bytes.
struct DerReader {
    const u8* data;
    u32 position;
    u32 end;
};

DerReader readerInside(const DerReader* outer, const DerItem* item) {
    return DerReader{outer->data, item->contentStart, item->end()};
}

// Reads the next element. Only single-byte tags and definite lengths in minimal form, at most four
// length bytes, all inside the reader's range.
bool derNext(DerReader* reader, DerItem* item) {
    u32 p = reader->position;
    if (p >= reader->end || reader->end - p < 2) return false;
    u8 tag = reader->data[p];
    if ((tag & 0x1F) == 0x1F) return false;  // multi-byte tag numbers
    u32 first = reader->data[p + 1];
    u32 length = 0;
    u32 header = 2;
    if (first < 0x80) {
        length = first;
    } else {
        u32 count = first & 0x7F;
        if (count == 0 || count > 4) return false;  // indefinite, or absurdly long
        if (reader->end - p - 2 < count) return false;
        for (u32 i = 0; i < count; i++) length = length << 8 | reader->data[p + 2 + i];
        if (length < 0x80 || (count > 1 && reader->data[p + 2] == 0)) return false;  // not minimal
        header += count;
    }
    if (length > reader->end - p - header) return false;
    item->tag = tag;
    item->start = p;
    item->contentStart = p + header;
    item->length = length;
    reader->position = item->end();
    return true;
}

bool derExpect(DerReader* reader, u8 tag, DerItem* item) { return derNext(reader, item) && item->tag == tag; }

// The next element when it has the tag; otherwise nothing is consumed.
bool derOptional(DerReader* reader, u8 tag, DerItem* item) {
    DerReader copy = *reader;
    if (!derNext(&copy, item) || item->tag != tag) return false;
    *reader = copy;
    return true;
}

bool itemIs(const DerReader* reader, const DerItem* item, const u8* bytes, u32 length) {
    return item->length == length && memcmp(reader->data + item->contentStart, bytes, length) == 0;
}

// Object identifiers (content bytes).
constexpr u8 kOidRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr u8 kOidRsaPss[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};
constexpr u8 kOidMgf1[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x08};
constexpr u8 kOidSha256WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
constexpr u8 kOidSha384WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0C};
constexpr u8 kOidSha512WithRsa[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0D};
constexpr u8 kOidEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr u8 kOidP256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr u8 kOidP384[] = {0x2B, 0x81, 0x04, 0x00, 0x22};
constexpr u8 kOidEcdsaSha256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02};
constexpr u8 kOidEcdsaSha384[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x03};
constexpr u8 kOidEcdsaSha512[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x04};
constexpr u8 kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
constexpr u8 kOidSha384[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
constexpr u8 kOidSha512[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};
constexpr u8 kOidServerAuth[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01};
constexpr u8 kOidAnyExtendedKeyUsage[] = {0x55, 0x1D, 0x25, 0x00};
constexpr u8 kOidAuthorityInformationAccess[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01};

// Extensions under 2.5.29 (55 1D nn).
enum : u8 {
    kExtSubjectKeyIdentifier = 14,
    kExtKeyUsage = 15,
    kExtSubjectAltName = 17,
    kExtBasicConstraints = 19,
    kExtCrlDistributionPoints = 31,
    kExtCertificatePolicies = 32,
    kExtAuthorityKeyIdentifier = 35,
    kExtExtendedKeyUsage = 37,
    kExtNameConstraints = 30,
};

template <u32 N>
bool oidIs(const DerReader* reader, const DerItem* item, const u8 (&oid)[N]) {
    return itemIs(reader, item, oid, N);
}

u32 hashOfOid(const DerReader* r, const DerItem* oid) {
    if (oidIs(r, oid, kOidSha256)) return SignatureHashSha256;
    if (oidIs(r, oid, kOidSha384)) return SignatureHashSha384;
    if (oidIs(r, oid, kOidSha512)) return SignatureHashSha512;
    return SignatureHashNone;
}

// A hash AlgorithmIdentifier: SEQUENCE { OID, NULL or nothing }.
u32 readHashAlgorithm(DerReader* r) {
    DerItem sequence, oid, null;
    if (!derExpect(r, 0x30, &sequence)) return SignatureHashNone;
    DerReader inner = readerInside(r, &sequence);
    if (!derExpect(&inner, 0x06, &oid)) return SignatureHashNone;
    if (derOptional(&inner, 0x05, &null) && null.length != 0) return SignatureHashNone;
    if (inner.position != inner.end) return SignatureHashNone;
    return hashOfOid(r, &oid);
}

// RSASSA-PSS-params with an explicit SHA-2 hash, MGF1 over the same hash, and the trailer 1.
bool readPssParameters(DerReader* r, const DerItem* parameters, u32* hash, i32* saltLength) {
    if (parameters->tag != 0x30) return false;
    DerReader p = readerInside(r, parameters);
    DerItem field;
    *hash = SignatureHashNone;
    u32 mgfHash = SignatureHashNone;
    *saltLength = 20;
    if (derOptional(&p, 0xA0, &field)) {
        DerReader inner = readerInside(&p, &field);
        *hash = readHashAlgorithm(&inner);
        if (inner.position != inner.end) return false;
    }
    if (derOptional(&p, 0xA1, &field)) {
        DerReader inner = readerInside(&p, &field);
        DerItem sequence, oid;
        if (!derExpect(&inner, 0x30, &sequence) || inner.position != inner.end) return false;
        DerReader mgf = readerInside(&inner, &sequence);
        if (!derExpect(&mgf, 0x06, &oid) || !oidIs(&mgf, &oid, kOidMgf1)) return false;
        mgfHash = readHashAlgorithm(&mgf);
        if (mgf.position != mgf.end) return false;
    }
    if (derOptional(&p, 0xA2, &field)) {
        DerReader inner = readerInside(&p, &field);
        DerItem integer;
        if (!derExpect(&inner, 0x02, &integer) || integer.length == 0 || integer.length > 2) return false;
        const u8* v = p.data + integer.contentStart;
        if (v[0] & 0x80) return false;
        *saltLength = integer.length == 1 ? v[0] : (v[0] << 8 | v[1]);
    }
    if (derOptional(&p, 0xA3, &field)) {
        DerReader inner = readerInside(&p, &field);
        DerItem integer;
        if (!derExpect(&inner, 0x02, &integer) || integer.length != 1 || p.data[integer.contentStart] != 1) return false;
    }
    if (p.position != p.end) return false;
    return *hash != SignatureHashNone && mgfHash == *hash;  // the SHA-1 defaults are not taken
}

// The signature AlgorithmIdentifier. An algorithm this client cannot check parses as unknown (a root's
// self-signature is never checked, so old roots still load).
bool readSignatureAlgorithm(DerReader* r, X509Certificate* out) {
    DerItem sequence, oid, parameters;
    if (!derExpect(r, 0x30, &sequence)) return false;
    DerReader inner = readerInside(r, &sequence);
    if (!derExpect(&inner, 0x06, &oid)) return false;
    bool hasParameters = derNext(&inner, &parameters);
    if (inner.position != inner.end) return false;
    out->signatureAlgorithm = X509SignatureUnknown;
    out->signatureHash = SignatureHashNone;
    struct Known {
        const u8* oid;
        u32 length;
        u32 algorithm;
        u32 hash;
    };
    const Known known[] = {
        {kOidSha256WithRsa, sizeof(kOidSha256WithRsa), X509SignatureRsaPkcs1, SignatureHashSha256},
        {kOidSha384WithRsa, sizeof(kOidSha384WithRsa), X509SignatureRsaPkcs1, SignatureHashSha384},
        {kOidSha512WithRsa, sizeof(kOidSha512WithRsa), X509SignatureRsaPkcs1, SignatureHashSha512},
        {kOidEcdsaSha256, sizeof(kOidEcdsaSha256), X509SignatureEcdsa, SignatureHashSha256},
        {kOidEcdsaSha384, sizeof(kOidEcdsaSha384), X509SignatureEcdsa, SignatureHashSha384},
        {kOidEcdsaSha512, sizeof(kOidEcdsaSha512), X509SignatureEcdsa, SignatureHashSha512},
    };
    for (const Known& k : known) {
        if (!itemIs(&inner, &oid, k.oid, k.length)) continue;
        if (k.algorithm == X509SignatureRsaPkcs1 && hasParameters && (parameters.tag != 0x05 || parameters.length))
            return false;  // RSA takes NULL parameters or none
        if (k.algorithm == X509SignatureEcdsa && hasParameters) return false;
        out->signatureAlgorithm = k.algorithm;
        out->signatureHash = k.hash;
        return true;
    }
    if (oidIs(&inner, &oid, kOidRsaPss)) {
        u32 hash;
        i32 salt;
        if (hasParameters && readPssParameters(&inner, &parameters, &hash, &salt)) {
            out->signatureAlgorithm = X509SignatureRsaPss;
            out->signatureHash = hash;
            out->pssSaltLength = salt;
        }
    }
    return true;
}

bool twoDigits(const u8* text, u32* value, u32 low, u32 high) {
    if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return false;
    *value = (u32)(text[0] - '0') * 10 + (u32)(text[1] - '0');
    return *value >= low && *value <= high;
}

// UTCTime (YYMMDDHHMMSSZ, years 1950 to 2049) or GeneralizedTime (YYYYMMDDHHMMSSZ) in Unix seconds.
bool readTime(DerReader* r, i64* out) {
    DerItem item;
    if (!derNext(r, &item)) return false;
    const u8* t = r->data + item.contentStart;
    u32 year;
    if (item.tag == 0x17 && item.length == 13) {
        if (!twoDigits(t, &year, 0, 99)) return false;
        year += year < 50 ? 2000 : 1900;
        t += 2;
    } else if (item.tag == 0x18 && item.length == 15) {
        u32 century;
        if (!twoDigits(t, &century, 0, 99) || !twoDigits(t + 2, &year, 0, 99)) return false;
        year += 100 * century;
        t += 4;
    } else {
        return false;
    }
    u32 month, day, hour, minute, second;
    if (!twoDigits(t, &month, 1, 12) || !twoDigits(t + 2, &day, 1, 31) || !twoDigits(t + 4, &hour, 0, 23) ||
        !twoDigits(t + 6, &minute, 0, 59) || !twoDigits(t + 8, &second, 0, 59) || t[10] != 'Z')
        return false;
    *out = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

DerSpan spanOf(const DerItem* item) { return DerSpan{item->contentStart, item->length}; }
DerSpan wholeSpanOf(const DerItem* item) { return DerSpan{item->start, item->end() - item->start}; }

// An INTEGER's content without the sign byte, refusing negative numbers.
bool readPositiveInteger(DerReader* r, DerSpan* out) {
    DerItem item;
    if (!derExpect(r, 0x02, &item) || item.length == 0) return false;
    const u8* v = r->data + item.contentStart;
    if (v[0] & 0x80) return false;
    *out = spanOf(&item);
    if (item.length > 1 && v[0] == 0) {
        out->offset++;
        out->length--;
    }
    return true;
}

// SubjectPublicKeyInfo. Keys of other kinds parse as unknown.
bool readPublicKey(DerReader* r, X509Certificate* out) {
    DerItem info, algorithm, oid, parameters, bits;
    if (!derExpect(r, 0x30, &info)) return false;
    DerReader inner = readerInside(r, &info);
    if (!derExpect(&inner, 0x30, &algorithm) || !derExpect(&inner, 0x03, &bits) || inner.position != inner.end)
        return false;
    if (bits.length < 1 || r->data[bits.contentStart] != 0) return false;  // whole bytes only
    DerReader a = readerInside(&inner, &algorithm);
    if (!derExpect(&a, 0x06, &oid)) return false;
    bool hasParameters = derNext(&a, &parameters);
    if (a.position != a.end) return false;
    DerSpan key = {bits.contentStart + 1, bits.length - 1};
    out->keyType = X509KeyUnknown;
    if (oidIs(&a, &oid, kOidRsaEncryption) || oidIs(&a, &oid, kOidRsaPss)) {
        DerReader k{r->data, key.offset, key.offset + key.length};
        DerItem sequence;
        if (!derExpect(&k, 0x30, &sequence) || k.position != k.end) return false;
        DerReader numbers = readerInside(&k, &sequence);
        if (!readPositiveInteger(&numbers, &out->keyModulus) || !readPositiveInteger(&numbers, &out->keyExponent) ||
            numbers.position != numbers.end)
            return false;
        out->keyType = oidIs(&a, &oid, kOidRsaEncryption) ? X509KeyRsa : X509KeyRsaPss;
    } else if (oidIs(&a, &oid, kOidEcPublicKey) && hasParameters && parameters.tag == 0x06) {
        u32 type = oidIs(&a, &parameters, kOidP256) ? X509KeyEcP256
                   : oidIs(&a, &parameters, kOidP384) ? X509KeyEcP384
                                                        : X509KeyUnknown;
        if (type != X509KeyUnknown) {
            u32 bytes = type == X509KeyEcP256 ? 32 : 48;
            if (key.length != 1 + 2 * bytes || r->data[key.offset] != 0x04) return false;
            out->keyType = type;
            out->keyPoint = key;
        }
    }
    return true;
}

bool readBoolean(DerReader* r, u32* out) {
    DerItem item;
    if (!derExpect(r, 0x01, &item) || item.length != 1) return false;
    u8 v = r->data[item.contentStart];
    if (v != 0 && v != 0xFF) return false;
    *out = v ? 1 : 0;
    return true;
}

bool readBasicConstraints(DerReader* r, X509Certificate* out) {
    DerItem sequence, integer;
    if (!derExpect(r, 0x30, &sequence) || r->position != r->end) return false;
    DerReader b = readerInside(r, &sequence);
    out->hasBasicConstraints = 1;
    out->isCa = 0;
    out->pathLength = -1;
    DerReader peek = b;
    DerItem next;
    if (derNext(&peek, &next) && next.tag == 0x01 && !readBoolean(&b, &out->isCa)) return false;
    if (derOptional(&b, 0x02, &integer)) {
        const u8* v = b.data + integer.contentStart;
        if (integer.length == 0 || integer.length > 2 || (v[0] & 0x80)) return false;
        out->pathLength = integer.length == 1 ? v[0] : (v[0] << 8 | v[1]);
    }
    return b.position == b.end;
}

bool readKeyUsage(DerReader* r, X509Certificate* out) {
    DerItem bits;
    if (!derExpect(r, 0x03, &bits) || r->position != r->end || bits.length < 1 || bits.length > 3) return false;
    if (r->data[bits.contentStart] > 7) return false;
    u32 first = bits.length > 1 ? r->data[bits.contentStart + 1] : 0;
    out->hasKeyUsage = 1;
    out->keyUsage = 0;
    // bit 0 of the BIT STRING is the first byte's most significant bit
    for (u32 i = 0; i < 8; i++)
        if (first & (0x80 >> i)) out->keyUsage |= 1u << i;
    return true;
}

bool readExtendedKeyUsage(DerReader* r, X509Certificate* out) {
    DerItem sequence, oid;
    if (!derExpect(r, 0x30, &sequence) || r->position != r->end) return false;
    DerReader e = readerInside(r, &sequence);
    out->hasExtendedKeyUsage = 1;
    while (e.position < e.end) {
        if (!derExpect(&e, 0x06, &oid)) return false;
        if (oidIs(&e, &oid, kOidServerAuth) || oidIs(&e, &oid, kOidAnyExtendedKeyUsage)) out->serverAuth = 1;
    }
    return true;
}

bool readSubjectAltName(DerReader* r, X509Certificate* out) {
    DerItem sequence, name;
    if (!derExpect(r, 0x30, &sequence) || r->position != r->end) return false;
    DerReader s = readerInside(r, &sequence);
    while (s.position < s.end) {
        if (!derNext(&s, &name)) return false;
        u8 type = (u8)(name.tag & 0x1F);
        if ((name.tag & 0xC0) != 0x80) return false;  // GeneralName choices are context-specific
        if (name.tag == 0x82 || name.tag == 0x87) {
            if (out->nameCount == kX509MaxNames) {
                out->namesCut = 1;
                continue;
            }
            out->nameTypes[out->nameCount] = type;
            out->names[out->nameCount] = spanOf(&name);
            out->nameCount++;
        }
    }
    return true;
}

// NameConstraints: SEQUENCE { [0] permittedSubtrees, [1] excludedSubtrees }, each a SEQUENCE OF
// GeneralSubtree { base GeneralName, [0] minimum DEFAULT 0, [1] maximum } (minimum and maximum must be
// absent in this profile).
bool readNameConstraints(DerReader* r, X509Certificate* out) {
    DerItem sequence;
    if (!derExpect(r, 0x30, &sequence) || r->position != r->end) return false;
    DerReader c = readerInside(r, &sequence);
    out->hasNameConstraints = 1;
    u8 lastTag = 0;
    while (c.position < c.end) {
        DerItem subtrees;
        if (!derNext(&c, &subtrees) || (subtrees.tag != 0xA0 && subtrees.tag != 0xA1) || subtrees.tag <= lastTag)
            return false;
        lastTag = subtrees.tag;
        DerReader list = readerInside(&c, &subtrees);
        if (list.position == list.end) return false;  // at least one subtree
        while (list.position < list.end) {
            DerItem subtree, base;
            if (!derExpect(&list, 0x30, &subtree)) return false;
            DerReader t = readerInside(&list, &subtree);
            if (!derNext(&t, &base)) return false;
            if (t.position != t.end) return false;  // minimum and maximum are not used
            if (base.tag == 0x87 && base.length != 8 && base.length != 32) return false;
            if (base.tag != 0x82 && base.tag != 0x87) continue;
            if (out->constraintCount == kX509MaxNameConstraints) {
                out->constraintsCut = 1;
                continue;
            }
            out->constraintTypes[out->constraintCount] = (u8)(base.tag & 0x1F);
            out->constraintExcluded[out->constraintCount] = subtrees.tag == 0xA1;
            out->constraints[out->constraintCount] = spanOf(&base);
            out->constraintCount++;
        }
    }
    return true;
}

FixedString readExtensions(DerReader* r, const DerItem* explicitTag, X509Certificate* out) {
    DerReader outer = readerInside(r, explicitTag);
    DerItem list;
    if (!derExpect(&outer, 0x30, &list) || outer.position != outer.end) return makeString("bad extensions");
    DerReader e = readerInside(&outer, &list);
    u64 seen = 0;  // bits of the 2.5.29 extensions met, to refuse repeats
    while (e.position < e.end) {
        DerItem extension, oid, value;
        if (!derExpect(&e, 0x30, &extension)) return makeString("bad extension");
        DerReader x = readerInside(&e, &extension);
        u32 critical = 0;
        if (!derExpect(&x, 0x06, &oid)) return makeString("bad extension");
        DerReader peek = x;
        DerItem next;
        if (derNext(&peek, &next) && next.tag == 0x01 && !readBoolean(&x, &critical)) return makeString("bad extension");
        if (!derExpect(&x, 0x04, &value) || x.position != x.end) return makeString("bad extension");
        DerReader v = readerInside(&x, &value);
        const u8* id = x.data + oid.contentStart;
        bool understood = true;
        bool ok = true;
        if (oid.length == 3 && id[0] == 0x55 && id[1] == 0x1D) {
            u8 which = id[2];
            if (which < 64) {
                if (seen >> which & 1) return makeString("repeated extension");
                seen |= 1ull << which;
            }
            switch (which) {
                case kExtBasicConstraints: ok = readBasicConstraints(&v, out); break;
                case kExtKeyUsage: ok = readKeyUsage(&v, out); break;
                case kExtSubjectAltName: ok = readSubjectAltName(&v, out); break;
                case kExtExtendedKeyUsage: ok = readExtendedKeyUsage(&v, out); break;
                case kExtNameConstraints: ok = readNameConstraints(&v, out); break;
                case kExtSubjectKeyIdentifier:
                case kExtAuthorityKeyIdentifier:
                case kExtCrlDistributionPoints:
                case kExtCertificatePolicies: break;  // nothing a client must act on
                default: understood = false;
            }
        } else if (!oidIs(&x, &oid, kOidAuthorityInformationAccess)) {
            understood = false;
        }
        if (!ok) return makeString("bad extension");
        if (critical && !understood) return makeString("unsupported critical extension");
    }
    return FixedString{};
}

}  // namespace

i64 daysFromCivil(i64 year, u32 month, u32 day) {
    year -= month <= 2;
    i64 era = (year >= 0 ? year : year - 399) / 400;
    u32 yearOfEra = (u32)(year - era * 400);
    u32 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    u32 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + (i64)dayOfEra - 719468;
}

FixedString parseX509Certificate(X509Certificate* out, const u8* der, u32 length) {
    ProfilingScope scope("Parse certificate");
    memset(out, 0, sizeof(*out));
    out->der = der;
    out->derLength = length;
    out->pathLength = -1;
    if (!der || length == 0) return makeString("empty certificate");
    DerReader top{der, 0, length};
    DerItem certificate, tbs, signatureAlgorithm, signature;
    if (!derExpect(&top, 0x30, &certificate) || top.position != top.end) return makeString("certificate not DER");
    DerReader c = readerInside(&top, &certificate);
    if (!derExpect(&c, 0x30, &tbs)) return makeString("no TBSCertificate");
    out->tbs = wholeSpanOf(&tbs);
    DerReader peek = c;  // the outer AlgorithmIdentifier's bytes, compared with the signed one below
    if (!derNext(&peek, &signatureAlgorithm) || !readSignatureAlgorithm(&c, out))
        return makeString("bad signature algorithm");
    if (!derExpect(&c, 0x03, &signature) || c.position != c.end) return makeString("bad signature");
    if (signature.length < 1 || der[signature.contentStart] != 0) return makeString("bad signature");
    out->signature = DerSpan{signature.contentStart + 1, signature.length - 1};

    DerReader t = readerInside(&c, &tbs);
    DerItem item;
    out->version = 1;
    if (derOptional(&t, 0xA0, &item)) {
        DerReader v = readerInside(&t, &item);
        DerItem integer;
        if (!derExpect(&v, 0x02, &integer) || integer.length != 1 || v.position != v.end)
            return makeString("bad version");
        u8 value = der[integer.contentStart];
        if (value > 2) return makeString("bad version");
        out->version = value + 1u;
    }
    DerItem serial, innerAlgorithm, validity;
    if (!derExpect(&t, 0x02, &serial) || serial.length == 0 || serial.length > 21) return makeString("bad serial number");
    if (!derExpect(&t, 0x30, &innerAlgorithm)) return makeString("bad signature algorithm");
    // the signed algorithm must be the one named outside
    if (innerAlgorithm.end() - innerAlgorithm.start != signatureAlgorithm.end() - signatureAlgorithm.start ||
        memcmp(der + innerAlgorithm.start, der + signatureAlgorithm.start, innerAlgorithm.end() - innerAlgorithm.start))
        return makeString("signature algorithms differ");
    if (!derExpect(&t, 0x30, &item)) return makeString("bad issuer");
    out->issuer = wholeSpanOf(&item);
    if (!derExpect(&t, 0x30, &validity)) return makeString("bad validity");
    DerReader v = readerInside(&t, &validity);
    if (!readTime(&v, &out->notBefore) || !readTime(&v, &out->notAfter) || v.position != v.end)
        return makeString("bad validity");
    if (!derExpect(&t, 0x30, &item)) return makeString("bad subject");
    out->subject = wholeSpanOf(&item);
    if (!readPublicKey(&t, out)) return makeString("bad public key");
    derOptional(&t, 0x81, &item);  // issuerUniqueID
    derOptional(&t, 0x82, &item);  // subjectUniqueID
    if (derOptional(&t, 0xA3, &item)) {
        if (out->version != 3) return makeString("extensions in a version 1 certificate");
        FixedString problem = readExtensions(&t, &item, out);
        if (problem.length) return problem;
    }
    if (t.position != t.end) return makeString("bytes after the extensions");
    return FixedString{};
}

bool x509SpansEqual(const X509Certificate* a, DerSpan spanA, const X509Certificate* b, DerSpan spanB) {
    return spanA.length == spanB.length && memcmp(x509Bytes(a, spanA), x509Bytes(b, spanB), spanA.length) == 0;
}

FixedString verifyX509Signature(const X509Certificate* certificate, const X509Certificate* issuer) {
    ProfilingScope scope("Verify certificate signature");
    u32 hash = certificate->signatureHash;
    if (certificate->signatureAlgorithm == X509SignatureUnknown || hash == SignatureHashNone)
        return makeString("unsupported signature algorithm");
    u8 digest[64];
    signatureHashBytes(digest, hash, x509Bytes(certificate, certificate->tbs), certificate->tbs.length);
    const u8* signature = x509Bytes(certificate, certificate->signature);
    u32 signatureLength = certificate->signature.length;
    switch (certificate->signatureAlgorithm) {
        case X509SignatureRsaPkcs1:
        case X509SignatureRsaPss: {
            bool pss = certificate->signatureAlgorithm == X509SignatureRsaPss;
            if (issuer->keyType != X509KeyRsa && !(pss && issuer->keyType == X509KeyRsaPss))
                return makeString("signature algorithm does not fit the issuer's key");
            RsaPublicKey key;
            FixedString problem =
                makeRsaPublicKey(&key, x509Bytes(issuer, issuer->keyModulus), issuer->keyModulus.length,
                                 x509Bytes(issuer, issuer->keyExponent), issuer->keyExponent.length);
            if (problem.length) return problem;
            bool valid = pss ? rsaVerifyPss(&key, hash, digest, certificate->pssSaltLength, signature, signatureLength)
                             : rsaVerifyPkcs1(&key, hash, digest, signature, signatureLength);
            return valid ? FixedString{} : makeString("bad signature");
        }
        case X509SignatureEcdsa: {
            u32 curve = issuer->keyType == X509KeyEcP256   ? EcdsaCurveP256
                        : issuer->keyType == X509KeyEcP384 ? EcdsaCurveP384
                                                            : EcdsaCurveNone;
            if (curve == EcdsaCurveNone) return makeString("signature algorithm does not fit the issuer's key");
            bool valid = ecdsaVerifyDer(curve, x509Bytes(issuer, issuer->keyPoint), issuer->keyPoint.length, digest,
                                        signatureHashLength(hash), signature, signatureLength);
            return valid ? FixedString{} : makeString("bad signature");
        }
        default: return makeString("unsupported signature algorithm");
    }
}
