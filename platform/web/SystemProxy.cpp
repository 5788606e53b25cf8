#include "platform/web/SystemProxy.h"

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
namespace {

// Ports are optional in proxy variables; this is what the common tools assume then.
constexpr int kDefaultProxyPort = 1080;

struct StrvFree {
  void operator()(gchar** p) const { g_strfreev(p); }
};
struct UriFree {
  void operator()(GUri* p) const { g_uri_unref(p); }
};
struct ObjectFree {
  void operator()(void* p) const { g_object_unref(p); }
};
using Strv = std::unique_ptr<gchar*, StrvFree>;

std::string Env(const char* lower, const char* upper) {
  const char* v = std::getenv(lower);
  if ((!v || !*v) && upper) v = std::getenv(upper);
  return v ? v : "";
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  return g_ascii_strncasecmp(s.c_str(), prefix, std::strlen(prefix)) == 0;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A proxy address in the form callers take, "" when it is none or of a kind they cannot use
// (an https proxy, say).
std::string Normalize(std::string text) {
  if (text.empty()) return "";
  // "host:port" without a scheme names an HTTP proxy.
  if (text.find("://") == std::string::npos) text = "http://" + text;
  GError* error = nullptr;
  std::unique_ptr<GUri, UriFree> uri(g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, &error));
  if (!uri) {
    g_clear_error(&error);
    return "";
  }
  std::string scheme = g_uri_get_scheme(uri.get());
  for (char& c : scheme) c = g_ascii_tolower(c);
  std::string kind;
  if (scheme == "http") {
    kind = "http";
  } else if (scheme == "socks" || scheme == "socks5" || scheme == "socks5h") {
    kind = "socks5";
  } else if (scheme == "socks4" || scheme == "socks4a") {
    kind = scheme;
  } else {
    return "";
  }
  const char* host = g_uri_get_host(uri.get());
  if (!host || !*host) return "";
  std::string out = kind + "://";
  if (const char* user = g_uri_get_userinfo(uri.get()); user && *user) {
    out += user;
    out += '@';
  }
  const std::string h = host;
  out += h.find(':') != std::string::npos ? "[" + h + "]" : h;
  const int port = g_uri_get_port(uri.get());
  out += ":" + std::to_string(port > 0 ? port : kDefaultProxyPort);
  return out;
}

// The first proxy the resolver names for `url` that callers can use; "" for none, nullopt when
// the resolver answered "direct" or could not answer.
std::optional<std::string> Lookup(GProxyResolver* resolver, const std::string& url) {
  GError* error = nullptr;
  Strv proxies(g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &error));
  if (!proxies) {
    g_clear_error(&error);
    return std::nullopt;
  }
  for (gchar** p = proxies.get(); *p; ++p) {
    if (g_str_has_prefix(*p, "direct://")) return std::nullopt;
    std::string usable = Normalize(*p);
    if (!usable.empty()) return usable;
  }
  return std::nullopt;
}

// The no_proxy entries with blanks removed; "*" is kept for the caller.
std::vector<std::string> NoProxyEntries() {
  std::vector<std::string> entries;
  const std::string list = Env("no_proxy", "NO_PROXY");
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t comma = list.find(',', pos);
    if (comma == std::string::npos) comma = list.size();
    std::string e = Trim(list.substr(pos, comma - pos));
    // "[::1]" names the address ::1.
    if (e.size() > 2 && e.front() == '[' && e.back() == ']') e = e.substr(1, e.size() - 2);
    if (!e.empty()) entries.push_back(e);
    pos = comma + 1;
  }
  return entries;
}

// A resolver over the variables: GLib's simple resolver matches hosts, subdomains, addresses
// and ranges the way no_proxy means them.
std::unique_ptr<GProxyResolver, ObjectFree> VariableResolver(const std::string& fallback,
                                                             const std::vector<std::string>& skip,
                                                             const std::string& http,
                                                             const std::string& https) {
  std::vector<gchar*> ignore;
  for (const std::string& e : skip) ignore.push_back(const_cast<gchar*>(e.c_str()));
  ignore.push_back(nullptr);
  GProxyResolver* r =
      g_simple_proxy_resolver_new(fallback.empty() ? nullptr : fallback.c_str(), ignore.data());
  auto* simple = G_SIMPLE_PROXY_RESOLVER(r);
  if (!http.empty()) g_simple_proxy_resolver_set_uri_proxy(simple, "http", http.c_str());
  if (!https.empty()) g_simple_proxy_resolver_set_uri_proxy(simple, "https", https.c_str());
  return std::unique_ptr<GProxyResolver, ObjectFree>(r);
}

// A proxy address the simple resolver accepts (it wants a scheme).
std::string WithScheme(const std::string& v) {
  if (v.empty() || v.find("://") != std::string::npos) return v;
  return "http://" + v;
}

bool Bypassed(const std::string& url, const std::vector<std::string>& noProxy) {
  if (noProxy.empty()) return false;
  for (const std::string& e : noProxy) {
    if (e == "*") return true;
  }
  // Any proxy will do: only whether the host is skipped counts.
  auto probe = VariableResolver("http://bypass-probe.invalid:1", noProxy, "", "");
  return !Lookup(probe.get(), url).has_value();
}

}  // namespace

std::string SystemProxyFor(const std::string& url) {
  const bool secure = StartsWithNoCase(url, "https://");
  if (!secure && !StartsWithNoCase(url, "http://")) return "";
  const std::vector<std::string> noProxy = NoProxyEntries();
  if (Bypassed(url, noProxy)) return "";

  // Set variables decide alone: GIO's modules read them with rules of their own (http_proxy
  // for https addresses, HTTP_PROXY, no "*" in no_proxy), or not at all.
  const std::string all = WithScheme(Env("all_proxy", "ALL_PROXY"));
  const std::string http = WithScheme(Env("http_proxy", nullptr));
  const std::string https = WithScheme(Env("https_proxy", "HTTPS_PROXY"));
  if (!all.empty() || !http.empty() || !https.empty() || !Env("HTTP_PROXY", nullptr).empty()) {
    auto variables = VariableResolver(all, noProxy, http, https);
    return Lookup(variables.get(), url).value_or("");
  }
  return Lookup(g_proxy_resolver_get_default(), url).value_or("");
}

}  // namespace platform
