#include "analytics/CarouselJson.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
  bool ok;
  CarouselResult result;
  std::vector<ImageInfo> images;
};

Parsed Parse(const std::string& body) {
  Parsed p;
  p.ok = ParseCarouselResponse(p.result, p.images, body);
  return p;
}

TEST(CarouselJsonTest, FullResponseInListOrderWithMissingDigest) {
  Parsed p = Parse(R"({"code": 1, "message": "ok", "data": {"list": [
      {"url": "http://img/1.png", "md5": "ABCDEF", "extra": 5},
      {"url": "http://img/2.png"}, {"md5": 7}, 3]}})");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(1, p.result.code);
  EXPECT_EQ("ok", p.result.message);
  ASSERT_EQ(4u, p.images.size());
  EXPECT_EQ("http://img/1.png", p.images[0].url);
  EXPECT_EQ("ABCDEF", p.images[0].md5);
  EXPECT_EQ("http://img/2.png", p.images[1].url);
  EXPECT_EQ("", p.images[1].md5);
  // Members of another type, and elements that are no objects, count as empty entries.
  EXPECT_EQ("", p.images[2].url);
  EXPECT_EQ("", p.images[2].md5);
  EXPECT_EQ("", p.images[3].url);
}

TEST(CarouselJsonTest, CodeMustBeAnInteger) {
  EXPECT_EQ(-1, Parse(R"({"code": "1", "data": {"list": []}})").result.code);
  EXPECT_EQ(-1, Parse(R"({"code": 1.0})").result.code);
  EXPECT_EQ(-1, Parse(R"({"code": 4294967296})").result.code);
  EXPECT_EQ(-1, Parse(R"({"message": "no code"})").result.code);
  EXPECT_EQ(-7, Parse(R"({"code": -7})").result.code);
  // Without a code the list is still read.
  EXPECT_EQ(1u, Parse(R"({"data": {"list": [{"url": "u"}]}})").images.size());
}

TEST(CarouselJsonTest, WrongShapesGiveNoImages) {
  Parsed arrayData = Parse(R"({"code": 1, "data": [{"url": "u"}]})");
  EXPECT_TRUE(arrayData.ok);
  EXPECT_EQ(1, arrayData.result.code);
  EXPECT_TRUE(arrayData.images.empty());
  EXPECT_TRUE(Parse(R"({"code": 1, "data": {"list": {"url": "u"}}})").images.empty());
  Parsed rootArray = Parse(R"([{"code": 1}])");
  EXPECT_TRUE(rootArray.ok);
  EXPECT_EQ(-1, rootArray.result.code);
}

TEST(CarouselJsonTest, TextThatIsNotJsonChangesNothing) {
  for (const char* body : {"", "<html>502</html>", R"({"code": 1,)", R"({"code": 1} x)"}) {
    CarouselResult result;
    result.message = "before";
    std::vector<ImageInfo> images(1);
    EXPECT_FALSE(ParseCarouselResponse(result, images, body)) << body;
    EXPECT_EQ(-1, result.code);
    EXPECT_EQ("before", result.message);
    EXPECT_EQ(1u, images.size());
  }
}

// The body comes from the network: nesting without end must not exhaust the stack.
TEST(CarouselJsonTest, DeepNestingIsRefusedWithoutCrashing) {
  CarouselResult result;
  std::vector<ImageInfo> images;
  EXPECT_FALSE(ParseCarouselResponse(result, images, std::string(1000000, '[')));
  EXPECT_FALSE(
      ParseCarouselResponse(result, images, R"({"code": 1, "data": )" + std::string(1000000, '{')));
  EXPECT_EQ(-1, result.code);
  Parsed nested = Parse(R"({"code": 1, "data": {"list": [)" + std::string(1000, '[') +
                        std::string(1000, ']') + "]}}");
  EXPECT_TRUE(nested.ok);
  EXPECT_EQ(1u, nested.images.size());
}

TEST(CarouselJsonTest, CarouselBindersWriteAnEmptyObject) {
  rapidjson::Document doc;
  ImageInfo info{"u", "m"};
  ImageInfoJSONStruct binder(info, doc.GetAllocator());
  EXPECT_EQ("{}", ToJsonText(binder, doc));
}

}  // namespace
