// The banner list answered by the API server: {"code", "message", "data": {"list": [{"url",
// "md5"}, ...]}}. Members of another JSON type count as absent. Any thread.
#pragma once

#include <string>
#include <vector>

#include "analytics/JsonStruct.h"

struct ImageInfo {
  std::string url;  // UTF-8, as received
  std::string md5;  // hexadecimal digest, any letter case
};

struct CarouselResult {
  int code = -1;  // 1 means success
  std::string message;
};

class ImageInfoJSONStruct : public IJSONStruct {
 public:
  ImageInfoJSONStruct(ImageInfo& data, JsonAllocator& allocator)
      : IJSONStruct(allocator), data_(&data) {}
  // Copies the string members "url" and "md5"; others are left as they are.
  void FromJson(const rapidjson::Value& value) override;
  // An empty object: the record is only ever read.
  rapidjson::Value ToJson() override;

 private:
  ImageInfo* data_;
};

class ImageConfigInfoJSONStruct : public IJSONStruct {
 public:
  ImageConfigInfoJSONStruct(std::vector<ImageInfo>& data, JsonAllocator& allocator)
      : IJSONStruct(allocator), data_(&data) {}
  // Appends one record per element of member "list", in order.
  void FromJson(const rapidjson::Value& value) override;
  rapidjson::Value ToJson() override;

 private:
  std::vector<ImageInfo>* data_;
};

// False (result and images unchanged) when body is not JSON; true otherwise, also when
// members are missing.
bool ParseCarouselResponse(CarouselResult& result, std::vector<ImageInfo>& images,
                           const std::string& body);
