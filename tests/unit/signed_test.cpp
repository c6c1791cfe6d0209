// A launcher built with release keys reads only manifests they signed, and
// none older than the newest it has read.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

// A P-256 key pair made by libcrypto, which signs as the release tool does.
struct release_signer {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    ~release_signer() { EVP_PKEY_free(key); }
    void point(uint8_t out[64]) const {
        uint8_t encoded[65];
        size_t n = 0;
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded, &n);
        std::copy(encoded + 1, encoded + 65, out);
    }
    // r‖s in hexadecimal, of the SHA-256 of text.
    std::string sign(const std::string& text) const {
        unsigned char digest[32], der[80], rs[64];
        SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        size_t length = sizeof der;
        EVP_PKEY_sign_init(context);
        EVP_PKEY_sign(context, der, &length, digest, sizeof digest);
        EVP_PKEY_CTX_free(context);
        const unsigned char* cursor = der;
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length));
        BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 32, 32);
        ECDSA_SIG_free(sig);
        std::string hex;
        for (unsigned char byte : rs) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
        return hex;
    }
};

class SignedRelease : public LauncherTest {
protected:
    release_signer first, second, stranger;
    release_keys release{2, {}, 100};
    void SetUp() override {
        LauncherTest::SetUp();
        first.point(release.points[0]);
        second.point(release.points[1]);
        keys = &release;
    }
};

const std::string kRefused =
    "  (manifest signature missing or invalid \xE2\x80\x94 launching installed/bundled app without update)\n";

// Each row publishes 1.1 over an installed 1.0 with a serial and a signature
// file made by a function of the manifest; the run installs it or says why not.
TEST_F(SignedRelease, OnlyAManifestSignedByABuiltInKeyAndNoOlderThanTheLastIsRead) {
    const std::string upgraded = "remote version: 1.1\n";
    const struct {
        const char* name;
        std::string serial, kept;  // the manifest's serial; serial.txt before ("": none)
        std::function<std::string(const release_signer& first, const release_signer& second,
                                  const release_signer& stranger, std::string& manifest)>
            sign;
        std::string log, kept_after;
    } cases[] = {
        {"the first key", "200", "", [](auto& a, auto&, auto&, auto& m) { return a.sign(m) + "\n"; }, upgraded,
         "200\n"},
        {"the second key, upper-case, after another", "00300", "garbled",
         [](auto&, auto& b, auto& c, auto& m) { return c.sign(m) + "\r\n" + upper_case(b.sign(m)); }, upgraded,
         "300\n"},
        {"a serial equal to the last", "200", "0200", [](auto& a, auto&, auto&, auto& m) { return a.sign(m); },
         upgraded, "0200\n"},
        {"another key", "200", "", [](auto&, auto&, auto& c, auto& m) { return c.sign(m); }, kRefused, ""},
        {"a byte changed", "200", "", [](auto& a, auto&, auto&, auto& m) { return a.sign(m + " "); }, kRefused, ""},
        {"no signature file", "200", "", nullptr, kRefused, ""},
        {"a short line", "200", "", [](auto& a, auto&, auto&, auto& m) { return a.sign(m).substr(1); }, kRefused, ""},
        {"three lines", "200", "",
         [](auto& a, auto& b, auto& c, auto& m) { return a.sign(m) + "\n" + b.sign(m) + "\n" + c.sign(m); }, kRefused,
         ""},
        {"no serial", "", "", [](auto& a, auto&, auto&, auto& m) { return a.sign(m); }, kRefused, ""},
        {"a serial below the last", "150", "200", [](auto& a, auto&, auto&, auto& m) { return a.sign(m); },
         "  (manifest serial 150 is older than 200 \xE2\x80\x94 launching installed/bundled app without update)\n",
         "200\n"},
        {"a serial below the floor", "0099", "", [](auto& a, auto&, auto&, auto& m) { return a.sign(m); },
         "  (manifest serial 99 is older than 100 \xE2\x80\x94 launching installed/bundled app without update)\n", ""},
        {"a manifest over 1 MiB", "200", "",
         [](auto& a, auto&, auto&, auto& m) {
             m += std::string(1 << 20, ' ');
             return a.sign(m);
         },
         kRefused, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        move_home(c.name);
        install("1.0");
        if (!c.kept.empty()) write_file(home + "/serial.txt", c.kept + "\n");
        std::string manifest = publish("1.1");
        if (!c.serial.empty()) manifest.insert(manifest.size() - 1, ", \"serial\": \"" + c.serial + "\"");
        fake.site.erase(std::string(kSite) + "/manifest.json.sig");
        if (c.sign) fake.site[std::string(kSite) + "/manifest.json.sig"] = c.sign(first, second, stranger, manifest);
        fake.site[std::string(kSite) + "/manifest.json"] = manifest;
        EXPECT_EQ(run(), 0);
        EXPECT_TRUE(logged("checking " + std::string(kSite) + "/manifest.json ...\n" + c.log)) << log;
        EXPECT_EQ(read_file(home + "/version.txt"), c.log == upgraded ? "1.1\n" : "1.0\n");
        EXPECT_EQ(read_file(home + "/serial.txt"), c.kept_after);
        EXPECT_EQ(read_file(tmp.at("temp/pelko_manifest.4242.json.sig")),
                  manifest.size() > (1 << 20) || !c.sign ? "" : fake.site[std::string(kSite) + "/manifest.json.sig"]);
        std::remove(tmp.at("temp/pelko_manifest.4242.json.sig").c_str());
    }
}

// A first run with a manifest it may not read ends as without a site.
TEST_F(SignedRelease, AFirstRunWithoutAValidSignatureEndsAsWithoutASite) {
    publish("1.0");
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(logged(kRefused)) << log;
    EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{8000});
    EXPECT_FALSE(file_exists(home + "/version.txt"));
}

}  // namespace
