#include "ManifestGate.h"

#include <cstring>
#include <string>

#include "BuildSettings.h"
#include "ManifestReader.h"
#include "P256KeyFiles.h"
#include "ScopedHandles.h"
#include "SignatureCrypto.h"

ManifestGate::ManifestGate()
{
    for (const char* const* key = kBuiltInManifestKeys; *key; ++key) {
        // Any key at all makes signatures a must, even one that fails to
        // read here: the build checked them, and no key must never mean
        // that anything goes.
        requiresSignature = true;
        std::vector<unsigned char> der;
        P256PublicKey parsed;
        if (DecodeBase64(*key, std::strlen(*key), &der) && ParseP256PublicKeyInfo(der.data(), der.size(), &parsed))
            keys.push_back(parsed);
    }
}

bool ManifestGate::SignedByBuiltInKey(const char* bytes, size_t size, const EcdsaSignature& signature) const
{
    for (const P256PublicKey& key : keys) {
        if (VerifyP256Sha256(key, reinterpret_cast<const unsigned char*>(bytes), size, signature))
            return true;
    }
    return false;
}

namespace {

bool ReadWhole(HANDLE file, std::string* bytes)
{
    LARGE_INTEGER size = {}, start = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > kManifestSizeLimit ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    bytes->assign(size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes->empty() && (!ReadFile(file, &(*bytes)[0], DWORD(bytes->size()), &got, nullptr) || got != bytes->size()))
        return false;
    // Nothing beyond the size it had when it was measured.
    char more;
    return ReadFile(file, &more, 1, &got, nullptr) && got == 0;
}

}  // namespace

ManifestVerdict ManifestGate::Read(HANDLE file, tinyxml2::XMLDocument* document, uint64_t lowest,
                                   uint64_t* sequence) const
{
    // Read and proven once, then parsed from the very bytes that were
    // proven: nothing read later from the disk can take their place.
    std::string bytes;
    if (!ReadWhole(file, &bytes))
        return ManifestVerdict::Refused;
    if (!requiresSignature)
        return ParseManifest(*document, bytes.data(), bytes.size()) ? ManifestVerdict::Admitted
                                                                    : ManifestVerdict::Refused;
    size_t signedLength = 0;
    EcdsaSignature signature;
    if (SplitSignedManifest(bytes.data(), bytes.size(), &signedLength, &signature) != SignatureBlock::Present ||
        !SignedByBuiltInKey(bytes.data(), signedLength, signature) ||
        !ParseManifest(*document, bytes.data(), signedLength))
        return ManifestVerdict::Refused;
    switch (CheckSignedManifest(*document, lowest, sequence)) {
    case SignedManifestFault::None:
        return ManifestVerdict::Admitted;
    case SignedManifestFault::OlderSequence:
        // Older is the one fault a genuine manifest has only in a cache that
        // has not seen the latest publish yet; every other rule still holds.
        return CheckSignedManifest(*document, 0, sequence) == SignedManifestFault::None ? ManifestVerdict::Older
                                                                                        : ManifestVerdict::Refused;
    default:
        return ManifestVerdict::Refused;
    }
}

namespace {

// Shared for deleting too: another updater may replace the kept manifest
// meanwhile, and this one goes on reading what it opened.
HANDLE OpenKept(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

void ManifestGate::RememberKeptManifest(const wchar_t* path)
{
    if (!requiresSignature)
        return;
    const ScopedHandle file(OpenKept(path));
    tinyxml2::XMLDocument kept;
    uint64_t sequence = 0;
    if (file && Read(file.Get(), &kept, 0, &sequence) == ManifestVerdict::Admitted)
        lowestSequence = sequence;
}

ManifestVerdict ManifestGate::Admit(HANDLE file, tinyxml2::XMLDocument* document) const
{
    uint64_t sequence = 0;
    return Read(file, document, lowestSequence, &sequence);
}

ManifestVerdict ManifestGate::Admit(const wchar_t* path, tinyxml2::XMLDocument* document) const
{
    const ScopedHandle file(OpenKept(path));
    return file ? Admit(file.Get(), document) : ManifestVerdict::Refused;
}
