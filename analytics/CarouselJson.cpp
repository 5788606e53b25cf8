#include "analytics/CarouselJson.h"

namespace {

// A value of another type than object has no members for us.
const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

void CopyString(const rapidjson::Value& object, const char* name, std::string& out) {
  const rapidjson::Value* v = Member(object, name);
  if (v && v->IsString()) out.assign(v->GetString(), v->GetStringLength());
}

}  // namespace

void ImageInfoJSONStruct::FromJson(const rapidjson::Value& value) {
  CopyString(value, "url", data_->url);
  CopyString(value, "md5", data_->md5);
}

// Both carousel records are only ever read; written, they are an empty object.
rapidjson::Value ImageInfoJSONStruct::ToJson() {
  return rapidjson::Value(rapidjson::kObjectType);
}

void ImageConfigInfoJSONStruct::FromJson(const rapidjson::Value& value) {
  const rapidjson::Value* list = Member(value, "list");
  if (!list || !list->IsArray()) return;
  for (const auto& element : list->GetArray()) {
    ImageInfo info;
    ImageInfoJSONStruct binder(info, allocator());
    binder.FromJson(element);
    data_->push_back(info);
  }
}

rapidjson::Value ImageConfigInfoJSONStruct::ToJson() {
  return rapidjson::Value(rapidjson::kObjectType);
}

bool ParseCarouselResponse(CarouselResult& result, std::vector<ImageInfo>& images,
                           const std::string& body) {
  rapidjson::Document doc;
  // The body comes from the network: the iterative parser keeps deep nesting off the stack.
  doc.Parse<rapidjson::kParseIterativeFlag>(body.c_str(), body.size());
  if (doc.HasParseError()) return false;
  if (const rapidjson::Value* code = Member(doc, "code"); code && code->IsInt()) {
    result.code = code->GetInt();
  }
  CopyString(doc, "message", result.message);
  if (const rapidjson::Value* data = Member(doc, "data"); data && data->IsObject()) {
    ImageConfigInfoJSONStruct binder(images, doc.GetAllocator());
    binder.FromJson(*data);
  }
  return true;
}
