// The certificate parser against OpenSSL's reading of the same certificates (the test PKI and every
// certificate of the system's CA bundle): names, validity, key, CA flags, key usages and alternative
// names; signature checks of each link against X509_verify; and malformed DER refused.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>

#include "Crypto/Sha.h"
#include "Crypto/X509.h"
#include "CryptoTestSupport.h"
#include "TestPki.h"

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using OpenSslCertificate = std::unique_ptr<X509, X509Free>;

OpenSslCertificate openSslParse(const Bytes& der) {
    const u8* cursor = der.data();
    return OpenSslCertificate(d2i_X509(nullptr, &cursor, (long)der.size()));
}

Bytes nameDer(const X509_NAME* name) {
    u8* out = nullptr;
    int length = i2d_X509_NAME(name, &out);
    Bytes bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}

i64 unixTime(const ASN1_TIME* time) {
    struct tm t = {};
    ASN1_TIME_to_tm(time, &t);
    return (i64)timegm(&t);
}

Bytes spanBytes(const X509Certificate& c, DerSpan span) { return Bytes(x509Bytes(&c, span), x509Bytes(&c, span) + span.length); }

// Every field this parser keeps, compared with OpenSSL's view of the certificate.
void compareWithOpenSsl(const Bytes& der, const std::string& label) {
    SCOPED_TRACE(label);
    OpenSslCertificate theirs = openSslParse(der);
    ASSERT_TRUE(theirs);
    X509Certificate ours;
    FixedString problem = parseX509Certificate(&ours, der.data(), (u32)der.size());
    ASSERT_EQ(std::string(problem.text, problem.length), "");
    EXPECT_EQ(ours.version, (u32)X509_get_version(theirs.get()) + 1);
    EXPECT_EQ(toHex(spanBytes(ours, ours.subject)), toHex(nameDer(X509_get_subject_name(theirs.get()))));
    EXPECT_EQ(toHex(spanBytes(ours, ours.issuer)), toHex(nameDer(X509_get_issuer_name(theirs.get()))));
    EXPECT_EQ(ours.notBefore, unixTime(X509_get0_notBefore(theirs.get())));
    EXPECT_EQ(ours.notAfter, unixTime(X509_get0_notAfter(theirs.get())));
    // tbs: re-encoded by OpenSSL from its parse
    u8* tbs = nullptr;
    int tbsLength = i2d_re_X509_tbs(theirs.get(), &tbs);
    EXPECT_EQ(toHex(spanBytes(ours, ours.tbs)), toHex(tbs, tbsLength));
    OPENSSL_free(tbs);
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, theirs.get());
    EXPECT_EQ(toHex(spanBytes(ours, ours.signature)), toHex(signature->data, signature->length));
    // key
    EVP_PKEY* key = X509_get0_pubkey(theirs.get());
    int keyId = key ? EVP_PKEY_get_base_id(key) : 0;
    if (keyId == EVP_PKEY_RSA) {
        EXPECT_EQ(ours.keyType, (u32)X509KeyRsa);
        BIGNUM* n = nullptr;
        EVP_PKEY_get_bn_param(key, "n", &n);
        Bytes modulus(BN_num_bytes(n));
        BN_bn2bin(n, modulus.data());
        BN_free(n);
        EXPECT_EQ(toHex(spanBytes(ours, ours.keyModulus)), toHex(modulus));
    } else if (keyId == EVP_PKEY_EC) {
        char group[64] = {};
        size_t groupLength = 0;
        EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof(group), &groupLength);
        u32 expected = strcmp(group, "prime256v1") == 0 ? X509KeyEcP256
                       : strcmp(group, "secp384r1") == 0 ? X509KeyEcP384
                                                          : X509KeyUnknown;
        EXPECT_EQ(ours.keyType, expected) << group;
        if (expected != X509KeyUnknown) {
            u8 point[200];
            size_t pointLength = 0;
            EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof(point), &pointLength);
            EXPECT_EQ(toHex(spanBytes(ours, ours.keyPoint)), toHex(point, pointLength));
        }
    } else {
        EXPECT_EQ(ours.keyType, (u32)X509KeyUnknown);
    }
    // flags and usages
    u32 flags = X509_get_extension_flags(theirs.get());
    EXPECT_EQ(ours.hasBasicConstraints && ours.isCa, (flags & EXFLAG_CA) != 0);
    if (ours.hasBasicConstraints && ours.isCa) {
        EXPECT_EQ(ours.pathLength, (i32)X509_get_pathlen(theirs.get()));
    }
    EXPECT_EQ(ours.hasKeyUsage != 0, (flags & EXFLAG_KUSAGE) != 0);
    if (ours.hasKeyUsage) {
        u32 usage = X509_get_key_usage(theirs.get());
        EXPECT_EQ((ours.keyUsage & X509KeyUsageDigitalSignature) != 0, (usage & KU_DIGITAL_SIGNATURE) != 0);
        EXPECT_EQ((ours.keyUsage & X509KeyUsageKeyCertSign) != 0, (usage & KU_KEY_CERT_SIGN) != 0);
    }
    EXPECT_EQ(ours.hasExtendedKeyUsage != 0, (flags & EXFLAG_XKUSAGE) != 0);
    if (ours.hasExtendedKeyUsage) {
        EXPECT_EQ(ours.serverAuth != 0, (X509_get_extended_key_usage(theirs.get()) & XKU_SSL_SERVER) != 0);
    }
    // alternative names: DNS and IP entries in order
    std::vector<std::pair<int, Bytes>> names;
    GENERAL_NAMES* list = (GENERAL_NAMES*)X509_get_ext_d2i(theirs.get(), NID_subject_alt_name, nullptr, nullptr);
    for (int i = 0; list && i < sk_GENERAL_NAME_num(list); i++) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(list, i);
        if (name->type == GEN_DNS)
            names.push_back({X509NameDns, Bytes(name->d.dNSName->data, name->d.dNSName->data + name->d.dNSName->length)});
        if (name->type == GEN_IPADD)
            names.push_back({X509NameIp, Bytes(name->d.iPAddress->data, name->d.iPAddress->data + name->d.iPAddress->length)});
    }
    GENERAL_NAMES_free(list);
    ASSERT_EQ(ours.nameCount, names.size());
    for (u32 i = 0; i < ours.nameCount; i++) {
        EXPECT_EQ(ours.nameTypes[i], names[i].first);
        EXPECT_EQ(toHex(spanBytes(ours, ours.names[i])), toHex(names[i].second));
    }
}

TEST(X509, TestPkiFieldsAgainstOpenSsl) {
    ASSERT_FALSE(testpki::folder().empty()) << "make-test-pki.sh failed";
    for (const char* name : {"root.crt", "other-root.crt", "inter.crt", "rsa2048.crt", "rsa4096.crt", "p256.crt",
                             "p384.crt", "pss.crt", "direct.crt", "untrusted.crt", "self.crt", "expired.crt",
                             "altered.crt"}) {
        auto certificates = testpki::certificates(name);
        ASSERT_EQ(certificates.size(), 1u) << name;
        compareWithOpenSsl(certificates[0], name);
    }
    // the values themselves, for one server certificate
    auto der = testpki::certificates("p256.crt")[0];
    X509Certificate c;
    ASSERT_EQ(parseX509Certificate(&c, der.data(), (u32)der.size()).length, 0);
    EXPECT_EQ(c.signatureAlgorithm, (u32)X509SignatureEcdsa);
    EXPECT_EQ(c.signatureHash, (u32)SignatureHashSha256);
    EXPECT_EQ(c.keyType, (u32)X509KeyEcP256);
    EXPECT_TRUE(c.hasBasicConstraints);
    EXPECT_FALSE(c.isCa);
    EXPECT_TRUE(c.serverAuth);
    EXPECT_EQ(c.nameCount, 4u);
    EXPECT_EQ(c.notAfter - c.notBefore, 825 * 86400);
    auto pss = testpki::certificates("pss.crt")[0];
    ASSERT_EQ(parseX509Certificate(&c, pss.data(), (u32)pss.size()).length, 0);
    EXPECT_EQ(c.signatureAlgorithm, (u32)X509SignatureRsaPss);
    EXPECT_EQ(c.signatureHash, (u32)SignatureHashSha256);
    EXPECT_EQ(c.pssSaltLength, 32);
    auto expired = testpki::certificates("expired.crt")[0];
    ASSERT_EQ(parseX509Certificate(&c, expired.data(), (u32)expired.size()).length, 0);
    EXPECT_EQ(c.notBefore, daysFromCivil(2020, 1, 1) * 86400);
    EXPECT_EQ(c.notAfter, daysFromCivil(2021, 12, 31) * 86400 + 86399);
}

TEST(X509, SystemBundleAgainstOpenSsl) {
    auto certificates = testpki::certificates("/etc/ssl/certs/ca-certificates.crt");
    ASSERT_GE(certificates.size(), 100u) << "install ca-certificates";
    int index = 0;
    for (const auto& der : certificates) compareWithOpenSsl(der, "bundle #" + std::to_string(index++));
}

// Each link of the test chains, and every self-signed root of the bundle, checked by both.
TEST(X509, SignaturesAgainstOpenSsl) {
    struct Link {
        const char* subject;
        const char* issuer;
        bool valid;
    };
    const Link links[] = {{"inter.crt", "root.crt", true},      {"rsa2048.crt", "inter.crt", true},
                          {"rsa4096.crt", "inter.crt", true},   {"p256.crt", "inter.crt", true},
                          {"p384.crt", "inter.crt", true},      {"pss.crt", "root.crt", true},
                          {"direct.crt", "root.crt", true},     {"untrusted.crt", "other-root.crt", true},
                          {"expired.crt", "inter.crt", true},   {"altered.crt", "inter.crt", false},
                          {"untrusted.crt", "root.crt", false}, {"p256.crt", "root.crt", false},
                          {"root.crt", "root.crt", true}};
    for (const Link& link : links) {
        auto subject = testpki::certificates(link.subject)[0], issuer = testpki::certificates(link.issuer)[0];
        X509Certificate s, i;
        ASSERT_EQ(parseX509Certificate(&s, subject.data(), (u32)subject.size()).length, 0);
        ASSERT_EQ(parseX509Certificate(&i, issuer.data(), (u32)issuer.size()).length, 0);
        FixedString problem = verifyX509Signature(&s, &i);
        EXPECT_EQ(problem.length == 0, link.valid) << link.subject << " by " << link.issuer;
        OpenSslCertificate theirs = openSslParse(subject), theirIssuer = openSslParse(issuer);
        EXPECT_EQ(X509_verify(theirs.get(), X509_get0_pubkey(theirIssuer.get())) == 1, link.valid) << link.subject;
    }
    int checked = 0;
    for (const auto& der : testpki::certificates("/etc/ssl/certs/ca-certificates.crt")) {
        X509Certificate c;
        ASSERT_EQ(parseX509Certificate(&c, der.data(), (u32)der.size()).length, 0);
        if (c.signatureAlgorithm == X509SignatureUnknown || c.keyType == X509KeyUnknown) continue;
        OpenSslCertificate theirs = openSslParse(der);
        bool expected = X509_verify(theirs.get(), X509_get0_pubkey(theirs.get())) == 1;
        EXPECT_EQ(verifyX509Signature(&c, &c).length == 0, expected) << "bundle certificate " << checked;
        checked++;
    }
    EXPECT_GE(checked, 80);
}

// Hand-made DER around a real certificate: lengths that overrun, indefinite and non-minimal
// lengths, trailing bytes, wrong tags, every cut-off length.
TEST(X509, MalformedDerIsRefused) {
    Bytes der = testpki::certificates("p256.crt")[0];
    X509Certificate c;
    ASSERT_EQ(parseX509Certificate(&c, der.data(), (u32)der.size()).length, 0);
    for (size_t cut = 0; cut < der.size(); cut++)
        EXPECT_GT(parseX509Certificate(&c, der.data(), (u32)cut).length, 0) << "cut at " << cut;
    Bytes trailing = der;
    trailing.push_back(0);
    EXPECT_GT(parseX509Certificate(&c, trailing.data(), (u32)trailing.size()).length, 0);
    auto refused = [&](Bytes bytes, const char* what) {
        EXPECT_GT(parseX509Certificate(&c, bytes.data(), (u32)bytes.size()).length, 0) << what;
    };
    ASSERT_EQ(der[1], 0x82);  // 30 82 hi lo
    Bytes b = der;
    b[0] = 0x31;
    refused(b, "SET for SEQUENCE");
    b = der;
    b[3]++;
    refused(b, "outer length past the end");
    b = der;
    b[3]--;
    refused(b, "outer length short of the end");
    b = der;
    b.insert(b.begin() + 2, 0x00);
    b[1] = 0x83;
    refused(b, "non-minimal length");
    b = der;
    b[1] = 0x80;
    refused(b, "indefinite length");
    b = der;
    b[1] = 0x85;
    refused(b, "five length bytes");
    b = der;
    b[4] = 0x1F;
    refused(b, "multi-byte tag");
    EXPECT_GT(parseX509Certificate(&c, nullptr, 0).length, 0);
}

// Certificates that are well-formed DER but must not be taken as they stand.
TEST(X509, RefusedContent) {
    std::string dir = testpki::folder();
    ASSERT_FALSE(dir.empty());
    auto make = [&](const std::string& name, const std::string& extension) {
        std::string command = "cd '" + dir + "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                              "-keyout " + name + ".key -out " + name + ".crt -days 30 -subj /CN=x -addext '" +
                              extension + "' > /dev/null 2>&1";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        return testpki::certificates(name + ".crt").at(0);
    };
    X509Certificate c;
    Bytes critical = make("critical", "1.2.3.4=critical,DER:0500");
    EXPECT_EQ(std::string(parseX509Certificate(&c, critical.data(), (u32)critical.size()).text),
              "unsupported critical extension");
    Bytes notCritical = make("noncritical", "1.2.3.4=DER:0500");
    EXPECT_EQ(parseX509Certificate(&c, notCritical.data(), (u32)notCritical.size()).length, 0);
    // Critical name constraints are understood: their DNS and IP subtrees are kept for the chain check.
    Bytes constraints = make("constraints", "nameConstraints=critical,permitted;DNS:example.com,"
                                            "excluded;IP:192.168.0.0/255.255.0.0,permitted;email:a@example.com");
    ASSERT_EQ(parseX509Certificate(&c, constraints.data(), (u32)constraints.size()).length, 0);
    EXPECT_EQ(c.hasNameConstraints, 1u);
    ASSERT_EQ(c.constraintCount, 2u);
    EXPECT_EQ(c.constraintTypes[0], (u8)X509NameDns);
    EXPECT_EQ(c.constraintExcluded[0], 0);
    EXPECT_EQ(std::string((const char*)x509Bytes(&c, c.constraints[0]), c.constraints[0].length), "example.com");
    EXPECT_EQ(c.constraintTypes[1], (u8)X509NameIp);
    EXPECT_EQ(c.constraintExcluded[1], 1);
    EXPECT_EQ(c.constraints[1].length, 8u);
    Bytes pathLength = make("pathlen", "basicConstraints=critical,CA:TRUE,pathlen:3");
    ASSERT_EQ(parseX509Certificate(&c, pathLength.data(), (u32)pathLength.size()).length, 0);
    EXPECT_EQ(c.pathLength, 3);
    EXPECT_TRUE(c.isCa);
    // a changed byte anywhere: refused, or parsed with every span inside the bytes
    std::mt19937_64 random(509);
    Bytes der = testpki::certificates("rsa2048.crt")[0];
    for (int i = 0; i < 3000; i++) {
        Bytes b = der;
        for (int n = 1 + (int)(random() % 3); n > 0; n--) b[random() % b.size()] = (u8)random();
        if (parseX509Certificate(&c, b.data(), (u32)b.size()).length) continue;
        for (DerSpan span : {c.tbs, c.issuer, c.subject, c.signature, c.keyModulus, c.keyExponent, c.keyPoint})
            ASSERT_LE((u64)span.offset + span.length, b.size());
        for (u32 k = 0; k < c.nameCount; k++) ASSERT_LE((u64)c.names[k].offset + c.names[k].length, b.size());
    }
}

TEST(X509, CivilDays) {
    EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(daysFromCivil(2000, 3, 1), 11017);
    EXPECT_EQ(daysFromCivil(2049, 12, 31), 29219);
    EXPECT_EQ(daysFromCivil(1950, 1, 1), -7305);
    EXPECT_EQ(daysFromCivil(2024, 2, 29) + 1, daysFromCivil(2024, 3, 1));
}

}  // namespace
