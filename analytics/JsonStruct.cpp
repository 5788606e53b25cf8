#include "analytics/JsonStruct.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

bool IJSONStruct::SkipKey(const char* key) const {
  const bool listed = filterKeys.count(key) > 0;
  if (filterMode == 0) return listed;
  if (filterMode == 1) return !listed;
  return false;
}

void IJSONStruct::AddMember(rapidjson::Value& object, const char* key, rapidjson::Value& value) {
  if (SkipKey(key)) return;
  object.AddMember(rapidjson::StringRef(key), value, allocator());
}

void IJSONStruct::AddString(rapidjson::Value& object, const char* key, const std::string& value) {
  rapidjson::Value v(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), allocator());
  AddMember(object, key, v);
}

std::string ToJsonText(IJSONStruct& binder, rapidjson::Document& document) {
  rapidjson::Value value = binder.ToJson();
  document.CopyFrom(value, document.GetAllocator());
  rapidjson::StringBuffer buffer(nullptr, 256);
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}
