// The analytics payload and its binder: {"client_id", "user_properties": {"uid": {"value"}},
// "events": [{"name", "params": {"event_category", "event_label"}}]}, in that order. A binder
// and its record belong to the thread that made them.
#pragma once

#include <string>
#include <vector>

#include "analytics/JsonStruct.h"

struct GAEvent {
  std::string name;
  std::string category;  // UTF-8
  std::string label;
};

struct GAPayload {
  std::string clientId;
  std::string userId;
  std::vector<GAEvent> events;
};

class CDownloaderGAJSONStruct : public IJSONStruct {
 public:
  CDownloaderGAJSONStruct(GAPayload& data, JsonAllocator& allocator)
      : IJSONStruct(allocator), data_(&data) {}
  // The payload is only ever sent, never read.
  void FromJson(const rapidjson::Value&) override {}
  rapidjson::Value ToJson() override;

 private:
  GAPayload* data_;
};
