// The checksum engines against published vectors and independent slow references.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "interpreter/checksum.h"

using namespace tev;

namespace {

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string digest_hex(int method, const std::string& data) {
    uint8_t out[DIGEST_MAX_LENGTH];
    digest_bytes(method, bytes_of(data), data.size(), out);
    return hex(out, digest_length(method));
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = uint8_t(seed >> 16);
    }
    return v;
}

// Bit at a time: the definition, not the table-driven engine.
uint32_t crc32_bitwise(const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t adler32_slow(const uint8_t* p, size_t n) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < n; ++i) {
        a = (a + p[i]) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

// End-around carry after every word, as the one's-complement sum is defined.
uint16_t tcp_slow(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; i += 2) {
        sum += uint32_t(p[i]) << 8 | (i + 1 < n ? p[i + 1] : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return uint16_t(~sum);
}

// Runs the checks with the processor's CRC and SHA instructions, then with the
// portable code (where the processor has none, both runs take the portable path).
template <class F> void on_both_paths(F checks) {
    for (bool hardware : {true, false}) {
        SCOPED_TRACE(hardware ? "hardware path" : "portable path");
        checksum_use_hardware(hardware);
        checks();
    }
    checksum_use_hardware(true);
}

}  // namespace

TEST(Checksum, CrcAdlerAndInternetChecksumOfShortInputs) {
    struct Case { std::string data; uint32_t crc, adler; uint16_t tcp; };
    const Case cases[] = {
        {"", 0, 1, 0xFFFF},
        {"abc", 0x352441C2u, 0x024D0127u, 0x3B9D},
        {"123456789", 0xCBF43926u, 0x091E01DEu, 0xF62A},
        {std::string("\x01", 1), 0xA505DF1Bu, 0x00020002u, 0xFEFF},
        {std::string("\x00\x01", 2), 0x36DE2269u, 0x00030002u, 0xFFFE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksum_crc32(bytes_of(c.data), c.data.size()), c.crc) << c.data;
        EXPECT_EQ(checksum_adler32(bytes_of(c.data), c.data.size()), c.adler) << c.data;
        EXPECT_EQ(checksum_tcp(bytes_of(c.data), c.data.size()), c.tcp) << c.data;
    }
}

TEST(Checksum, LongInputsAgreeWithSlowReferences) {
    on_both_paths([] {
        // Lengths around the engines' strides (16 bytes, Adler's reduction block)
        // and far past the point where a 32-bit Internet sum wraps (128 KiB).
        for (size_t n : {size_t(15), size_t(16), size_t(17), size_t(5551), size_t(5552), size_t(5553), size_t(131071),
                         size_t(200 * 1024 + 1), size_t(1 << 20)}) {
            std::vector<uint8_t> v = pattern(n, uint32_t(n));
            EXPECT_EQ(checksum_crc32(v.data(), n), crc32_bitwise(v.data(), n)) << n;
            EXPECT_EQ(checksum_adler32(v.data(), n), adler32_slow(v.data(), n)) << n;
            EXPECT_EQ(checksum_tcp(v.data(), n), tcp_slow(v.data(), n)) << n;
        }
        std::vector<uint8_t> ones(200 * 1024, 0xFF);  // every word 0xFFFF: sums overflow 32 bits fastest
        EXPECT_EQ(checksum_tcp(ones.data(), ones.size()), 0x0000);
        EXPECT_EQ(checksum_adler32(ones.data(), ones.size()), adler32_slow(ones.data(), ones.size()));
        std::vector<uint8_t> ramp(300001);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i * 7 + 3);
        EXPECT_EQ(checksum_tcp(ramp.data(), ramp.size()), 0xCA14);
    });
}

TEST(Checksum, CrcAndAdlerContinueAcrossPieces) {
    on_both_paths([] {
        std::vector<uint8_t> v = pattern(10000, 7);
        for (size_t cut : {size_t(0), size_t(1), size_t(15), size_t(4999), size_t(10000)}) {
            EXPECT_EQ(checksum_crc32(v.data() + cut, v.size() - cut, checksum_crc32(v.data(), cut)),
                      checksum_crc32(v.data(), v.size()));
            EXPECT_EQ(checksum_adler32(v.data() + cut, v.size() - cut, checksum_adler32(v.data(), cut)),
                      checksum_adler32(v.data(), v.size()));
        }
    });
}

#define LONG_MESSAGE \
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"

TEST(Checksum, DigestsMatchPublishedVectors) {
    on_both_paths([] {
        struct Case { int method; const char* text; int repeat; const char* digest; };
        const Case cases[] = {
            {DIGEST_MD5, "", 1, "D41D8CD98F00B204E9800998ECF8427E"},
            {DIGEST_MD5, "abc", 1, "900150983CD24FB0D6963F7D28E17F72"},
            {DIGEST_MD5, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "8215EF0796A20BCAAAE116D3876C664A"},
            {DIGEST_MD5, LONG_MESSAGE, 1, "03DD8807A93175FB062DFB55DC7D359C"},
            {DIGEST_MD5, "a", 1000000, "7707D6AE4E027C70EEA2A935C2296F21"},
            {DIGEST_SHA1, "", 1, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
            {DIGEST_SHA1, "abc", 1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
            {DIGEST_SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
            {DIGEST_SHA1, LONG_MESSAGE, 1, "A49B2446A02C645BF419F995B67091253A04A259"},
            {DIGEST_SHA1, "a", 1000000, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
            {DIGEST_SHA256, "", 1, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
            {DIGEST_SHA256, "abc", 1, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
            {DIGEST_SHA256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
            {DIGEST_SHA256, LONG_MESSAGE, 1, "CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1"},
            {DIGEST_SHA256, "a", 1000000, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
            {DIGEST_SHA384, "", 1, "38B060A751AC96384CD9327EB1B1E36A21FDB71114BE07434C0CC7BF63F6E1DA274EDEBFE76F65FBD51AD2F14898B95B"},
            {DIGEST_SHA384, "abc", 1, "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
            {DIGEST_SHA384, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "3391FDDDFC8DC7393707A65B1B4709397CF8B1D162AF05ABFE8F450DE5F36BC6B0455A8520BC4E6F5FE95B1FE3C8452B"},
            {DIGEST_SHA384, LONG_MESSAGE, 1, "09330C33F71147E83D192FC782CD1B4753111B173B3B05D22FA08086E3B0F712FCC7C71A557E2DB966C3E9FA91746039"},
            {DIGEST_SHA384, "a", 1000000, "9D0E1809716474CB086E834E310A4A1CED149E9C00F248527972CEC5704C2A5B07B8B3DC38ECC4EBAE97DDD87F3D8985"},
            {DIGEST_SHA512, "", 1, "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E"},
            {DIGEST_SHA512, "abc", 1, "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
            {DIGEST_SHA512, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1, "204A8FC6DDA82F0A0CED7BEB8E08A41657C16EF468B228A8279BE331A703C33596FD15C13B1B07F9AA1D3BEA57789CA031AD85C7A71DD70354EC631238CA3445"},
            {DIGEST_SHA512, LONG_MESSAGE, 1, "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD26545E96E55B874BE909"},
            {DIGEST_SHA512, "a", 1000000, "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EBDE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49AA2E4EADB217AD8CC09B"},
        };
        for (const Case& c : cases) {
            std::string data;
            for (int i = 0; i < c.repeat; ++i) data += c.text;
            EXPECT_EQ(digest_hex(c.method, data), c.digest) << c.method << " " << c.text;
        }
    });
}

TEST(Checksum, DigestsFedInPiecesEqualOneCall) {
    on_both_paths([] {
        // Every split of inputs around the block and padding edges (55, 56, 64,
        // 111, 112, 128 bytes): the buffering between calls must not matter.
        std::vector<uint8_t> v = pattern(300, 3);
        for (int method = DIGEST_MD5; method <= DIGEST_SHA512; ++method) {
            for (size_t n : {size_t(55), size_t(56), size_t(64), size_t(111), size_t(112), size_t(119), size_t(128),
                             size_t(300)}) {
                uint8_t whole[DIGEST_MAX_LENGTH];
                digest_bytes(method, v.data(), n, whole);
                for (size_t cut = 0; cut <= n; cut += 7) {
                    Digest d(method);
                    d.update(v.data(), cut);
                    d.update(v.data() + cut, n - cut);
                    uint8_t pieces[DIGEST_MAX_LENGTH];
                    d.finish(pieces);
                    ASSERT_EQ(hex(pieces, digest_length(method)), hex(whole, digest_length(method)))
                        << method << " " << n << " " << cut;
                }
            }
        }
    });
}

TEST(Checksum, HmacKeysAtAndPastTheBlockSize) {
    on_both_paths([] {
        // A key of exactly the block size is used as it is; one byte more and it
        // is replaced by its digest (64 for MD5 and SHA-1/256, 128 for SHA-384/512).
        struct Case { int method; size_t key_length; const char* mac; };
        const Case cases[] = {
            {DIGEST_MD5, 64, "A7210C062428970A263B2DFC8A9F4970"},
            {DIGEST_SHA1, 64, "CA8257C69DA4C0A1AD0C30B7818CCE1744BA234B"},
            {DIGEST_SHA256, 64, "10B870DE0D0D77E5052974F7359312477B1679EC6E427F010EB1587511FDA562"},
            {DIGEST_SHA384, 64, "A0840E030379693439F77849DBC1315C780FCB118ED521EA155FF2FDEB8676A29FF5B2C2876B400D3C6842F7582E816E"},
            {DIGEST_SHA512, 64, "5C703F8A1653499F38EB4424432A9C5DA6D86D83B1241A3268694E916C582A8B8BC0E89D52CBAEF26420BA7FA7188EF2A2E6BA22A9CF417CE33CD2F4306B7180"},
            {DIGEST_MD5, 65, "7B50AAE01D597613729577110486A09A"},
            {DIGEST_SHA1, 65, "2D892A3B0B00994B25EC7D5FC9992A702BEFD326"},
            {DIGEST_SHA256, 65, "B5C028529BC8B374063AC434F86B6BCCCCCEDF66441502C50BE0D50EA8535ED1"},
            {DIGEST_SHA384, 65, "7CF3A799B8BD47D6941C821C6146A72C6EE47F6E871A1F29FF695C4A0975D3BBAAA2FA676D16AD619B09B4CF9F7110B2"},
            {DIGEST_SHA512, 65, "AF8D2BAB85260F4D5790B77E3A9AEDD54EDFCC3F5D769118A56AB4044D64C7D93C6DE47F68FC5EF5FD7D10853085C6722F5759545E001B18203B0227A5AE653A"},
            {DIGEST_MD5, 128, "95F34DF2D70F717BB0F81D85A2A306AE"},
            {DIGEST_SHA1, 128, "0C40CBB2FC872097D7672CF3E03DC8F77FDA16AC"},
            {DIGEST_SHA256, 128, "47C9AA3C685E41F80287085B3BEC237E2ECD9016DF0F62680675FFE4CD129927"},
            {DIGEST_SHA384, 128, "F917311F3A0174B8D8651A3B1566D09506114C2CB51612922D1A8F592B87BC006AD40ED037D4E443EAC1103C38667BD1"},
            {DIGEST_SHA512, 128, "18692867A7114C06C285A58C24606A5ED6129ED7449503EAF4242F56317CF9570C5C0ABC769C768548E743AB00BA03A6CDCEE84CED72C78659E6F6BCB8EEE67C"},
            {DIGEST_MD5, 129, "306C1B77C9DF1439FF5C830AE6C2EDC4"},
            {DIGEST_SHA1, 129, "ECFCC800A7761191FC3A2239E78FE8847C71EE88"},
            {DIGEST_SHA256, 129, "DBB122BFAAA43AC34A81DF4CCB328F927385716262CBC08ECA71E2B9B97ED3CA"},
            {DIGEST_SHA384, 129, "8C6FEE955B46467F48D58B4E11C55E231732D2D2AAFD027F3918CBCA0909BDF3E3E563AE9216C743C737A2FCD0529D41"},
            {DIGEST_SHA512, 129, "37749F325747350E307DB1C3C66CCFAD6A3B3F5F3C1292FA0AA1ED0C0BB96C8CA2FDFCD84AA888B1352CB65CFB3EABBEF56040AC2F9D1C5D1E380EB7EC77BA30"},
        };
        const std::string data = "Tev HMAC key edge";
        for (const Case& c : cases) {
            std::vector<uint8_t> key(c.key_length);
            for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(i);
            uint8_t out[DIGEST_MAX_LENGTH];
            hmac_bytes(c.method, key.data(), key.size(), bytes_of(data), data.size(), out);
            EXPECT_EQ(hex(out, digest_length(c.method)), c.mac) << c.method << " key " << c.key_length;
        }
    });
}

TEST(Checksum, HmacPublishedVectors) {
    struct Case { int method; std::string key, data; const char* mac; };
    const Case cases[] = {
        {DIGEST_MD5, std::string(16, '\x0B'), "Hi There", "9294727A3638BB1C13F48EF8158BFC9D"},
        {DIGEST_SHA1, std::string(20, '\x0B'), "Hi There", "B617318655057264E28BC0B6FB378C8EF146BE00"},
        {DIGEST_SHA1, std::string(80, '\xAA'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "AA4AE5E15272D00E95705637CE8A3B55ED402112"},
        {DIGEST_SHA256, "Jefe", "what do ya want for nothing?",
         "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843"},
        {DIGEST_SHA256, std::string(131, '\xAA'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "60E431591EE0B67F0D8A26AACBF5B77F8E0BC6213728C5140546040F0EE37F54"},
    };
    for (const Case& c : cases) {
        uint8_t out[DIGEST_MAX_LENGTH];
        hmac_bytes(c.method, bytes_of(c.key), c.key.size(), bytes_of(c.data), c.data.size(), out);
        EXPECT_EQ(hex(out, digest_length(c.method)), c.mac) << c.method << " " << c.data;
    }
}

TEST(Checksum, DigestTableLengthsAndBlockSizes) {
    const struct { int method; uint32_t length, block; } rows[] = {
        {DIGEST_MD5, 16, 64}, {DIGEST_SHA1, 20, 64}, {DIGEST_SHA256, 32, 64},
        {DIGEST_SHA384, 48, 128}, {DIGEST_SHA512, 64, 128}, {0, 0, 0}, {1, 0, 0}, {7, 0, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(digest_length(r.method), r.length) << r.method;
        EXPECT_EQ(digest_block_size(r.method), r.block) << r.method;
    }
}
