#include "http/HttpHeader.h"

#include <climits>
#include <cstdlib>

namespace {

// Like atoi, but a value out of range is clamped instead of undefined.
int ToInt(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

}  // namespace

void CHttpHeader::AddField(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty()) return;
  fields_.emplace(name, value);
}

void CHttpHeader::SetField(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty()) return;
  fields_[name] = value;
}

std::string CHttpHeader::GetField(const std::string& name) const {
  auto it = fields_.find(name);
  return it == fields_.end() ? std::string() : it->second;
}

void CHttpHeader::ApplyDefaults() {
  AddField("User-Agent",
           "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/80.0.4044.92 Safari/537.36");
  AddField("Accept", "*/*");
  AddField("Connection", "Keep-Alive");
  AddField("Accept-Language", "zh-CN,zh;q=0.9");
}

std::string CHttpHeader::BuildFieldLines() {
  ApplyDefaults();
  std::string out;
  for (const auto& [name, value] : fields_) out += name + ": " + value + "\r\n";
  return out;
}

std::string CHttpHeader::BuildRequest() {
  if (version_.empty()) version_ = "HTTP/1.1";
  std::string lines = BuildFieldLines();
  // The block ends with its empty line and one further CRLF pair.
  return "GET " + requestPath_ + " " + version_ + "\r\n" + lines + "\r\n" + "\r\n";
}

void CHttpHeader::ParseResponse(const std::string& text) {
  std::size_t pos = 0;
  bool first = true;
  while (pos <= text.size()) {
    std::size_t end = text.find("\r\n", pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (first) {
      first = false;
      version_ = line.substr(0, 8);
      std::size_t sp1 = line.find(' ');
      if (sp1 != std::string::npos) {
        std::size_t sp2 = line.find(' ', sp1 + 1);
        statusCode_ = ToInt(
            line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1));
        reason_ = sp2 == std::string::npos ? "" : line.substr(sp2 + 1);
      }
    } else {
      // A line without ": " carries no field and is skipped.
      std::size_t sep = line.find(": ");
      if (sep != std::string::npos) AddField(line.substr(0, sep), line.substr(sep + 2));
    }
    if (end == std::string::npos) break;
    pos = end + 2;
  }
}
