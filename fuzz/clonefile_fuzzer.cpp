// The clone file reader, through the clonefile command's own code (its main, renamed). The first
// byte picks the command (info, verify, list, manifest, extract) and how the rest is taken: as a
// clone file as it stands, or as a tar stream that is gzipped and wrapped into a clone file signed
// with this device's key, so the tar reader and the extraction checks see it past the signature.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <zlib.h>

#include "FuzzDevice.h"
#include "clone_container.h"

int clonefile_main(int argc, char** argv);

namespace {

void putLe(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

// A gzip member of stored deflate blocks: valid for any input, and cheap.
std::string gzipStored(const std::string& data)
{
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(data.size() - at, 65535);
        out.push_back(at + n == data.size() ? 1 : 0);
        putLe(out, static_cast<std::uint32_t>(n), 2);
        putLe(out, static_cast<std::uint32_t>(~n & 0xffff), 2);
        out.append(data, at, n);
        at += n;
    } while (at < data.size());
    const uLong crc = ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    putLe(out, static_cast<std::uint32_t>(crc), 4);
    putLe(out, static_cast<std::uint32_t>(data.size()), 4);
    return out;
}

const clonefmt::SigningKey& deviceKey()
{
    static clonefmt::SigningKey key;
    if (!key.loaded()) {
        std::string error;
        const std::string priv = fuzzdev::path("/config/clone_signing_key.pem");
        if (!clonefmt::generateKeyPair(priv, fuzzdev::path("/config/key.pub.pem"), true, error) ||
            !key.loadPrivate(priv, error)) {
            std::fprintf(stderr, "fuzz key: %s\n", error.c_str());
            std::abort();
        }
    }
    return key;
}

std::string signedCloneFile(const std::string& tar)
{
    const std::string archive = gzipStored(tar);
    const std::vector<std::uint8_t> header = clonefmt::encodeHeader("clone", "cloning", deviceKey().keyId(), archive.size());
    std::string covered(header.begin(), header.end());
    covered += archive;
    clonefmt::Digest digest;
    if (EVP_Digest(covered.data(), covered.size(), digest.data(), nullptr, EVP_sha512(), nullptr) != 1) {
        std::abort();
    }
    clonefmt::Signature signature;
    std::string error;
    if (!deviceKey().sign(clonefmt::signedMessage(digest), signature, error)) {
        std::abort();
    }
    return covered + std::string(signature.begin(), signature.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string file = fuzzdev::path("/out/in.dlm");
    const std::string content = data[0] & 1 ? signedCloneFile(rest) : rest;
    fuzzdev::writeFile(file, content.data(), content.size());

    std::string key = fuzzdev::path("/config/key.pub.pem");
    deviceKey();
    std::string dir = fuzzdev::path("/out/extracted");
    std::string path = file;
    std::string command[] = {"info", "verify", "list", "manifest", "extract"};
    std::string keyOption = "--key";
    std::string self = "clonefile";
    std::string& name = command[(data[0] >> 1) % 5];
    std::vector<char*> argv = {&self[0], &name[0]};
    if (name != "info" && (data[0] & 0x80) == 0) {
        argv.push_back(&keyOption[0]);
        argv.push_back(&key[0]);
    }
    argv.push_back(&path[0]);
    if (name == "extract") {
        argv.push_back(&dir[0]);
    }
    argv.push_back(nullptr);
    clonefile_main(static_cast<int>(argv.size() - 1), argv.data());
    fuzzdev::clearDirectory(fuzzdev::path("/out"));
    return 0;
}
