// The front door's programs offered by the manifest, so that a fix to the
// launcher or the updater reaches every player on the next start:
//   <frontdoor arch="x86_64" name="qalUpdate.exe" ver="MD5" sha256="HEX" size="N" version="1.0.5"/>
// as children of the root placed before its first "file" element, where
// updaters that know nothing of them never look. Each program is published
// at "frontdoor/<arch>/<ver>/<name>" below the resource base address, a
// name that never stands for two contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <tinyxml2.h>

// The architectures and programs an offer may name.
inline constexpr char kFrontDoorArch32[] = "i686";
inline constexpr char kFrontDoorArch64[] = "x86_64";
inline constexpr char kLauncherProgramName[] = "qalLogin.exe";
inline constexpr char kUpdaterProgramName[] = "qalUpdate.exe";

// The architecture of a program built for this pointer size.
constexpr const char* FrontDoorArch(bool is64bit)
{
    return is64bit ? kFrontDoorArch64 : kFrontDoorArch32;
}

// Far above any build of either program (a few MiB): a bound on what an
// offer can make the updater fetch.
constexpr uint64_t kMaxFrontDoorProgramBytes = uint64_t(64) << 20;

struct FrontDoorOffer {
    const char* arch;     // owned by the document
    const char* name;
    const char* ver;      // 32 uppercase hexadecimal digits
    const char* sha256;   // 64 lowercase ones, or null
    uint64_t size;        // bytes of the program
    const char* version;  // digits and dots (the installer's version), or null
};

// Every usable offer of the manifest, in document order. Not an offer: an
// element placed after the root's first "file" element or below the root's
// children, an arch or name other than the ones above, a "ver" that is not
// a well-formed digest, a size that is not plain decimal digits or is 0 or
// above the bound, a "sha256" that is not well formed, or none where one is
// required (a signed manifest proves every byte it names). A name offered
// twice for one arch is no offer at all (which one would be meant?). A
// "version" that is not 1 to 4 numbers joined by dots is left out.
std::vector<FrontDoorOffer> FrontDoorOffers(const tinyxml2::XMLDocument& manifest, bool requireSha256);

// The offer of that program for that arch, or null.
const FrontDoorOffer* FrontDoorOfferFor(const std::vector<FrontDoorOffer>& offers, const char* arch,
                                        const char* name);

// "frontdoor/<arch>/<ver>/<name>"; false (and an empty text) when it does
// not fit.
bool FormFrontDoorPath(char* out, std::size_t capacity, const FrontDoorOffer& offer);

// Whether text is a version an offer may carry: 1 to 4 decimal numbers of
// at most 5 digits each, joined by dots.
bool IsWellFormedFrontDoorVersion(const char* text);
