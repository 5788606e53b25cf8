#include "kvhttp/download/Bencode.h"

#include <gtest/gtest.h>

namespace kvhttp {
namespace {

using namespace std::string_literals;

TEST(Bencode, RoundTripsNestedValues) {
  BencodeValue v;
  *v["z"] = BencodeValue(std::int64_t{-42});
  *v["a"] = BencodeValue(std::string("x\0y", 3));
  BencodeValue::List list{BencodeValue(std::int64_t{0}), BencodeValue(std::string()),
                          BencodeValue(BencodeValue::List{})};
  *v["m"] = BencodeValue(list);
  *(*v["d"])["k"] = BencodeValue(std::int64_t{INT64_MAX});
  const std::string text = BencodeEncode(v);
  // Keys come out in byte order whatever order they went in.
  EXPECT_EQ(text, "d1:a3:x\0y1:dd1:ki9223372036854775807ee1:mli0e0:lee1:zi-42ee"s);
  std::size_t used = 0;
  EXPECT_EQ(BencodeDecode(text + "trailing", &used), v);
  EXPECT_EQ(used, text.size());
  EXPECT_EQ(*BencodeDecode("i-9223372036854775808e").integer(), INT64_MIN);
}

TEST(Bencode, KindsAndIndexing) {
  BencodeValue v;
  EXPECT_FALSE(v.is_defined());
  EXPECT_EQ(v.integer(), nullptr);
  EXPECT_EQ(v.find("a"), nullptr);
  ASSERT_NE(v["a"], nullptr);  // an undefined value becomes a dictionary
  EXPECT_EQ(v.kind(), BencodeValue::Kind::kDictionary);
  ASSERT_NE(v.find("a"), nullptr);
  EXPECT_FALSE(v.find("a")->is_defined());
  BencodeValue n(std::int64_t{5});
  EXPECT_EQ(n["a"], nullptr);
  EXPECT_EQ(n.string(), nullptr);
  // Undefined entries write nothing, so a dictionary holding one stays decodable only as
  // far as its defined entries go.
  EXPECT_EQ(BencodeEncode(BencodeValue(BencodeValue::List{BencodeValue()})), "le");
  // A later duplicate key wins.
  EXPECT_EQ(*BencodeDecode("d1:ai1e1:ai2ee").find("a")->integer(), 2);
}

TEST(Bencode, MalformedInputIsUndefined) {
  const char* bad[] = {
      "",
      "e",
      "x",
      "i",
      "ie",
      "i-e",
      "i12",
      "i1x2e",
      "i--1e",
      "3:ab",
      "-1:a",
      "2x:ab",
      "l",
      "li1e",
      "d",
      "d1:a",
      "di1ei2ee",
      "d1:ai1e",
      "d1:ae",
      "l:e",
      "4294967296:a",
      "i9223372036854775808e",
      "i-9223372036854775809e",
      "99999999999999999999999:x",
  };
  for (const char* text : bad) {
    EXPECT_FALSE(BencodeDecode(text).is_defined()) << "input: " << text;
  }
}

TEST(Bencode, NestingIsLimitedToOneHundred) {
  auto nested = [](int depth) { return std::string(depth, 'l') + std::string(depth, 'e'); };
  EXPECT_TRUE(BencodeDecode(nested(100)).is_defined());
  EXPECT_FALSE(BencodeDecode(nested(101)).is_defined());
  // Deep input must not exhaust the stack either.
  EXPECT_FALSE(BencodeDecode(std::string(1000000, 'l')).is_defined());
}

}  // namespace
}  // namespace kvhttp
