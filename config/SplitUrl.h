// Splitting an http(s) address into host and path, for the redirect probe. Any thread.
#pragma once

#include <string>

// For "http://" or "https://" addresses: host = the text up to the first "/" after the scheme
// (a port or user part stays in it), path = the text after that "/" (query included); returns
// true. An address with no "/" after the host sets host to the rest, leaves path and returns
// false. An address without either scheme changes nothing and returns true.
bool SplitUrl(const std::wstring& url, std::wstring& host, std::wstring& path);
