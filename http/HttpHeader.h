// The fields of one request or response, kept in byte-wise order of their names (so upper case
// sorts first), one value per exactly matching name. Used by one thread at a time.
#pragma once

#include <map>
#include <string>

class CHttpHeader {
 public:
  CHttpHeader() = default;
  virtual ~CHttpHeader() = default;

  // Stores the pair unless either is empty or the name is present: the first value stays.
  void AddField(const std::string& name, const std::string& value);
  // Stores the pair, replacing a present value (the socket client's "Host").
  void SetField(const std::string& name, const std::string& value);
  // The stored value, "" when absent.
  std::string GetField(const std::string& name) const;

  // "GET path version" + the field lines + an empty line + one more CRLF. Sets the version to
  // "HTTP/1.1" when empty and applies the defaults.
  std::string BuildRequest();
  // Only the "Name: value\r\n" lines, after applying the defaults.
  std::string BuildFieldLines();
  // Parses a response header without its closing empty line; repeated fields keep the first.
  void ParseResponse(const std::string& text);

  int statusCode() const { return statusCode_; }
  const std::string& version() const { return version_; }
  const std::string& reason() const { return reason_; }
  void SetRequestPath(const std::string& path) { requestPath_ = path; }
  const std::string& requestPath() const { return requestPath_; }
  const std::map<std::string, std::string>& fields() const { return fields_; }

 private:
  void ApplyDefaults();

  int statusCode_ = 0;
  std::string version_;
  std::string reason_;
  std::string requestPath_;
  std::map<std::string, std::string> fields_;
};
