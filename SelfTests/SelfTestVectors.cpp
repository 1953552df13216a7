#include "SelfTests/SelfTestVectors.h"

namespace {

const char kFox[] = "The quick brown fox jumps over the lazy dog";
const char kTwoBlocks56[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kTwoBlocks112[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
// RFC 4231 test case 1 and 7: key and data.
const char kRfc4231Key1[] = "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b";
const char kRfc4231Data1[] = "Hi There";
const char kRfc4231Key7[] =
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaa";
const char kRfc4231Data7[] =
    "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
    "hashed before being used by the HMAC algorithm.";
// The NIST HMAC example with a key as long as the 128-byte block: bytes 00 to 7f.
const char kNistBlockKey[] =
    "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f"
    "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f";
const char kNistMessage[] = "Sample message for keylen=blocklen";

}  // namespace

const HashVector kHashVectors[HashVectorCount] = {
    {"md5", nullptr, "", nullptr, "d41d8cd98f00b204e9800998ecf8427e"},
    {"md5", nullptr, "a", nullptr, "0cc175b9c0f1b6a831c399e269772661"},
    {"md5", nullptr, "abc", nullptr, "900150983cd24fb0d6963f7d28e17f72"},
    {"md5", nullptr, "message digest", nullptr, "f96b697d7cb7938d525a2f31aaf161d0"},
    {"md5", nullptr, "abcdefghijklmnopqrstuvwxyz", nullptr, "c3fcd3d76192e4007dfb496cca67e13b"},
    {"md5", nullptr, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", nullptr,
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"md5", nullptr, "12345678901234567890123456789012345678901234567890123456789012345678901234567890", nullptr,
     "57edf4a22be3c955ac49da2e2107b67a"},
    {"hmac-md5", "6b6579", kFox, nullptr, "80070713463e7749b90c2dc24911e275"},

    {"sha1", nullptr, "abc", nullptr, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"sha1", nullptr, kTwoBlocks56, nullptr, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"hmac-sha1", "6b6579", kFox, nullptr, "de7c9b85b8b78aa6bc8a7a36f70a90701c9db4d9"},

    {"sha256", nullptr, "", nullptr, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"sha256", nullptr, "abc", nullptr, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha256", nullptr, kTwoBlocks56, nullptr, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"hmac-sha256", "6b6579", kFox, nullptr, "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8"},
    {"hmac-sha256",
     "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f30313233343536"
     "3738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f50515253545556",
     "message", nullptr, "8d077df384f6e6a163c72409c8cac3f9232880a4daa749e88ed696926462e330"},
    {"hmac-sha256", kRfc4231Key1, kRfc4231Data1, nullptr,
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"hmac-sha256", kRfc4231Key7, kRfc4231Data7, nullptr,
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    // RFC 5869 test case 1: the extract step (salt as the key, input keying material as the
    // message), then the expand step with its info.
    {"hmac-sha256", "000102030405060708090a0b0c", nullptr, "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
     "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5"},
    {"hkdf-expand-sha256", "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5", nullptr,
     "f0f1f2f3f4f5f6f7f8f9", "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
    // RFC 5869 test case 2.
    {"hmac-sha256",
     "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f808182838485868788898a8b8c8d8e8f909192939495"
     "969798999a9b9c9d9e9fa0a1a2a3a4a5a6a7a8a9aaabacadaeaf",
     nullptr,
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f30313233343536"
     "3738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f",
     "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244"},
    {"hkdf-expand-sha256", "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244", nullptr,
     "b0b1b2b3b4b5b6b7b8b9babbbcbdbebfc0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedfe0e1e2e3e4e5e6"
     "e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f"
     "09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},

    {"sha384", nullptr, "", nullptr,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {"sha384", nullptr, "abc", nullptr,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {"sha384", nullptr, kTwoBlocks112, nullptr,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {"hmac-sha384", kNistBlockKey, kNistMessage, nullptr,
     "63c5daa5e651847ca897c95814ab830bededc7d25e83eef9195cd45857a37f448947858f5af50cc2b1b730ddf29671a9"},
    {"hmac-sha384", kRfc4231Key1, kRfc4231Data1, nullptr,
     "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
    {"hmac-sha384", kRfc4231Key7, kRfc4231Data7, nullptr,
     "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},

    {"sha512", nullptr, "abc", nullptr,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce8"
     "0e2a9ac94fa54ca49f"},
    {"sha512", nullptr, kTwoBlocks112, nullptr,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd"
     "26545e96e55b874be909"},
    {"hmac-sha512", kNistBlockKey, kNistMessage, nullptr,
     "fc25e240658ca785b7a811a8d3f7b4ca48cfa26a8a366bf2cd1f836b05fcb024bd36853081811d6cea4216ebad79da1cfcb95ea4586b"
     "8a0ce356596a55fb1347"},
    {"hmac-sha512", kRfc4231Key1, kRfc4231Data1, nullptr,
     "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61"
     "f1702e696c203a126854"},
    {"hmac-sha512", kRfc4231Key7, kRfc4231Data7, nullptr,
     "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0"
     "446065c97440fa8c6a58"},
};

const AesVector kAesVectors[AesVectorCount] = {
    {"cbc", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51", "",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2", ""},
    // Additional data: the header of an application-data record of 69 bytes. Plaintext: Finished
    // (type 20, length 48, 48 bytes of verify data) and the inner content type 22.
    {"gcm", "030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc", "a0a1a2a3a4a5a6a7a8a9aaab",
     "14000030010e1b2835424f5c697683909daab7c4d1deebf805121f2c394653606d7a8794a1aebbc8d5e2effc091623303d4a576416",
     "1703030045",
     "6f847339ec73b4fd21c4650c43696fd0868488aa4139099c20ea067f1b707becab468b4d7f97696ab33272b1663fd6f481a0026407",
     "aabda2eb8ee1901b4bb0b3d3cf67b4cf"},
    {"gcm", "00000000000000000000000000000000", "000000000000000000000000", "", "", "",
     "58e2fccefa7e3061367f1d57a4e7455a"},
    {"gcm", "00000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000", "",
     "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {"gcm", "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de6"
     "57ba637b391aafd255",
     "",
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac"
     "973d58e091473f5985",
     "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {"gcm", "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de6"
     "57ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac"
     "973d58e091",
     "5bc94fbc3221a5db94fae95ae7121a47"},
};

const SmallCurveCase kSmallCurveCases[SmallCurveCaseCount] = {
    {"add", 0, 17, 10, 0, 10, 0, 80, 87},
    {"double", 0, 3, 6, 0, 0, 0, 80, 10},
    {"double", 0, 83, 23, 0, 0, 0, 46, 72},
    {"scale", 3, 3, 6, 0, 0, 0, 80, 87},  // (3, 6) has order 5
    {"scale", 4, 3, 6, 0, 0, 0, 3, 91},
    {"scale", 5, 3, 6, 0, 0, 1, 0, 0},
    {"scale", 6, 3, 6, 0, 0, 0, 3, 6},
    {"scale", 81, 3, 6, 0, 0, 0, 3, 6},
    {"scale-validated", 1, 24, 2, 0, 0, 0, 24, 2},
    {"scale-validated", 39, 24, 2, 0, 0, 0, 46, 25},
    {"scale-validated", 4, 96, 0, 0, 0, 1, 0, 0},  // a point of order 2
    {"scale-validated", 1, 97, 6, 0, 0, 2, 0, 0},  // x = p: the coordinate is not reduced
    {"scale-validated", 1, 3, 7, 0, 0, 2, 0, 0},   // not on the curve
};

const X25519Vector kX25519Vectors[X25519VectorCount] = {
    {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
     "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
     "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
    {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
     "0900000000000000000000000000000000000000000000000000000000000000",
     "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
    {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
     "0900000000000000000000000000000000000000000000000000000000000000",
     "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
    {"77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a",
     "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f",
     "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
    {"5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb",
     "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a",
     "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"},
};

const char* const kX25519IteratedOnce = "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079";
const char* const kX25519IteratedThousand = "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51";

const char* const kP256ScalarA = "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721";
const char* const kP256ScalarB = "519B423D715F8B581F4FA8EE59F4771A5B44C8130B4E3EACCA54A56DDA72B464";

u32 decodeHex(u8* out, u32 capacity, const char* hex) {
    if (!hex) return 0;
    u32 count = 0;
    int high = -1;
    for (const char* c = hex; *c && count < capacity; c++) {
        int value;
        if (*c >= '0' && *c <= '9') {
            value = *c - '0';
        } else if (*c >= 'a' && *c <= 'f') {
            value = *c - 'a' + 10;
        } else if (*c >= 'A' && *c <= 'F') {
            value = *c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = value;
        } else {
            out[count++] = (u8)(high << 4 | value);
            high = -1;
        }
    }
    return count;
}
