// The bencoding used by the resume record: integers, byte strings, lists and dictionaries
// ordered by key. Plain values; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvhttp {

class BencodeValue {
 public:
  enum class Kind { kUndefined, kInteger, kString, kList, kDictionary };
  using List = std::vector<BencodeValue>;
  using Dictionary = std::map<std::string, BencodeValue>;  // byte-wise key order

  BencodeValue() = default;
  explicit BencodeValue(std::int64_t v) : value_(v) {}
  explicit BencodeValue(std::string v) : value_(std::move(v)) {}
  explicit BencodeValue(List v) : value_(std::move(v)) {}
  explicit BencodeValue(Dictionary v) : value_(std::move(v)) {}

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool is_defined() const { return kind() != Kind::kUndefined; }

  // The payload when the value is of that kind, else null (the caller reports the wrong kind).
  const std::int64_t* integer() const { return std::get_if<std::int64_t>(&value_); }
  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const List* list() const { return std::get_if<List>(&value_); }
  List* list() { return std::get_if<List>(&value_); }
  const Dictionary* dictionary() const { return std::get_if<Dictionary>(&value_); }

  // Entry `key` of a dictionary, inserted undefined when missing; an undefined value becomes an
  // empty dictionary first. Null when this is another kind.
  BencodeValue* operator[](const std::string& key);
  // Entry `key`, or null when missing or when this is no dictionary.
  const BencodeValue* find(const std::string& key) const;

  bool operator==(const BencodeValue& other) const = default;

 private:
  std::variant<std::monostate, std::int64_t, std::string, List, Dictionary> value_;
};

// The encoding of `value`; undefined values (also inside containers) encode as nothing.
std::string BencodeEncode(const BencodeValue& value);

// Decodes the value at the start of `bytes`; bytes after it are ignored. Undefined when the
// bytes are no well-formed encoding or nest deeper than 100 values. `consumed`, when given,
// receives the length of the encoding read.
BencodeValue BencodeDecode(std::string_view bytes, std::size_t* consumed = nullptr);

}  // namespace kvhttp
