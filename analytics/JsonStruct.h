// Binders between plain records and RapidJSON values. A binder reads its record from a value
// (FromJson) or writes it into a new value (ToJson) allocated from the document it was made
// for; a key filter can leave members out when writing. Binders are short-lived objects of one
// thread and must not outlive the document whose allocator they use.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <unordered_set>

using JsonAllocator = rapidjson::Document::AllocatorType;

class IJSONStruct {
 public:
  virtual void FromJson(const rapidjson::Value& value) = 0;
  virtual rapidjson::Value ToJson() = 0;
  virtual ~IJSONStruct() = default;

  // 0: skip the keys in filterKeys; 1: write only the keys in filterKeys; other: no filter.
  int filterMode = 0;
  std::unordered_set<std::string> filterKeys;

 protected:
  explicit IJSONStruct(JsonAllocator& allocator) : allocator_(&allocator) {}
  bool SkipKey(const char* key) const;
  JsonAllocator& allocator() { return *allocator_; }
  // Adds object[key] = value unless the filter skips the key; key must be a literal.
  void AddMember(rapidjson::Value& object, const char* key, rapidjson::Value& value);
  void AddString(rapidjson::Value& object, const char* key, const std::string& value);

 private:
  JsonAllocator* allocator_;
};

// The binder's value copied into `document` (whose allocator the binder uses) and written
// pretty-printed: 4-space indentation, members in insertion order, no final line end.
std::string ToJsonText(IJSONStruct& binder, rapidjson::Document& document);
