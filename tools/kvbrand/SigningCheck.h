// The part of `kvbrand check` about payload integrity: the brand's signing keys, and download
// addresses that an attacker on the way could serve in plain text. No state; any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/BrandCheck.h"

enum class UnsignedBrands { kRefuse, kAllow };

// Problems of the brand in `folder`:
//  - no key at all (neither KV_BRAND_PUBLIC_KEYS nor KV_BRAND_DEMO_SIGNING_KEY), unless
//    `unsignedBrands` allows it;
//  - a key file that is missing or holds anything but Ed25519 PEM public keys, or more than two
//    keys in all;
//  - the build-made demo key on a brand whose downloads leave this machine;
//  - a download address (STR_DOWN_URL, STR_DOWN_URL_X64, STR_DOWN_URLEX, in any section) in
//    plain http:// to a host other than the loopback one.
std::vector<BrandProblem> CheckBrandSigning(const std::filesystem::path& folder,
                                            UnsignedBrands unsignedBrands);

// Whether the URL's host is this machine: localhost, 127.0.0.0/8 or [::1].
bool IsLoopbackUrl(const std::wstring& url);
