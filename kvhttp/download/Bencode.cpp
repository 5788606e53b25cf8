#include "kvhttp/download/Bencode.h"

#include <limits>

namespace kvhttp {

namespace {

constexpr int kMaxDepth = 100;

void Encode(const BencodeValue& v, std::string& out) {
  switch (v.kind()) {
    case BencodeValue::Kind::kUndefined:
      break;
    case BencodeValue::Kind::kInteger:
      out += 'i';
      out += std::to_string(*v.integer());
      out += 'e';
      break;
    case BencodeValue::Kind::kString:
      out += std::to_string(v.string()->size());
      out += ':';
      out += *v.string();
      break;
    case BencodeValue::Kind::kList:
      out += 'l';
      for (const auto& item : *v.list()) Encode(item, out);
      out += 'e';
      break;
    case BencodeValue::Kind::kDictionary:
      out += 'd';
      for (const auto& [key, item] : *v.dictionary()) {
        out += std::to_string(key.size());
        out += ':';
        out += key;
        Encode(item, out);
      }
      out += 'e';
      break;
  }
}

class Decoder {
 public:
  explicit Decoder(std::string_view in) : in_(in) {}

  bool Value(BencodeValue& out, int depth) {
    if (depth > kMaxDepth || pos_ >= in_.size()) return false;
    char c = in_[pos_];
    if (c == 'i') {
      ++pos_;
      std::int64_t n;
      if (!Integer('e', n)) return false;
      out = BencodeValue(n);
      return true;
    }
    if (c >= '0' && c <= '9') {
      std::string s;
      if (!String(s)) return false;
      out = BencodeValue(std::move(s));
      return true;
    }
    if (c == 'l') {
      ++pos_;
      BencodeValue::List items;
      while (true) {
        if (pos_ >= in_.size()) return false;
        if (in_[pos_] == 'e') break;
        BencodeValue item;
        if (!Value(item, depth + 1)) return false;
        items.push_back(std::move(item));
      }
      ++pos_;
      out = BencodeValue(std::move(items));
      return true;
    }
    if (c == 'd') {
      ++pos_;
      BencodeValue::Dictionary entries;
      while (true) {
        if (pos_ >= in_.size()) return false;
        if (in_[pos_] == 'e') break;
        if (in_[pos_] < '0' || in_[pos_] > '9') return false;  // keys are byte strings
        std::string key;
        if (!String(key)) return false;
        BencodeValue item;
        if (!Value(item, depth + 1)) return false;
        entries[std::move(key)] = std::move(item);  // a later duplicate wins
      }
      ++pos_;
      out = BencodeValue(std::move(entries));
      return true;
    }
    return false;
  }

  std::size_t position() const { return pos_; }

 private:
  // A signed decimal up to `end`, which is consumed. Overflow is an error.
  bool Integer(char end, std::int64_t& out) {
    bool negative = false;
    if (pos_ < in_.size() && in_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    std::uint64_t value = 0;
    const std::uint64_t limit =
        negative ? std::uint64_t{1} << 63 : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::size_t digits = 0;
    while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9') {
      std::uint64_t d = static_cast<std::uint64_t>(in_[pos_] - '0');
      if (value > (limit - d) / 10) return false;
      value = value * 10 + d;
      ++pos_;
      ++digits;
    }
    if (digits == 0 || pos_ >= in_.size() || in_[pos_] != end) return false;
    ++pos_;
    out = negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
    return true;
  }

  bool String(std::string& out) {
    std::int64_t length;
    if (in_[pos_] == '-' || !Integer(':', length)) return false;
    if (static_cast<std::uint64_t>(length) > in_.size() - pos_) return false;
    out.assign(in_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return true;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
};

}  // namespace

BencodeValue* BencodeValue::operator[](const std::string& key) {
  if (kind() == Kind::kUndefined) value_ = Dictionary{};
  auto* d = std::get_if<Dictionary>(&value_);
  return d ? &(*d)[key] : nullptr;
}

const BencodeValue* BencodeValue::find(const std::string& key) const {
  const auto* d = dictionary();
  if (!d) return nullptr;
  auto it = d->find(key);
  return it == d->end() ? nullptr : &it->second;
}

std::string BencodeEncode(const BencodeValue& value) {
  std::string out;
  Encode(value, out);
  return out;
}

BencodeValue BencodeDecode(std::string_view bytes, std::size_t* consumed) {
  Decoder decoder(bytes);
  BencodeValue result;
  if (!decoder.Value(result, 1)) {
    if (consumed) *consumed = 0;
    return BencodeValue();
  }
  if (consumed) *consumed = decoder.position();
  return result;
}

}  // namespace kvhttp
