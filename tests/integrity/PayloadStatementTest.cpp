#include "integrity/PayloadStatement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using integrity::ParsePayloadStatement;
using integrity::PayloadStatement;
using integrity::StatementParse;

integrity::Sha256Digest Digest() {
  integrity::Sha256Digest d{};
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(i * 7 + 1);
  return d;
}

integrity::Ed25519Signature Signature() {
  integrity::Ed25519Signature s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<unsigned char>(255 - i);
  return s;
}

const std::string kGood = integrity::FormatPayloadStatement(48213504, Digest(), Signature());

std::string Replaced(const std::string& what, const std::string& with) {
  std::string s = kGood;
  s.replace(s.find(what), what.size(), with);
  return s;
}

TEST(PayloadStatementTest, WrittenStatementParsesBackWithItsSignedPart) {
  EXPECT_EQ(0u, kGood.find("kvdownloader-statement 1\nsize 48213504\nsha256 01080f16"));
  PayloadStatement s;
  ASSERT_EQ(StatementParse::kOk, ParsePayloadStatement(kGood, s));
  EXPECT_EQ(48213504u, s.size);
  EXPECT_EQ(Digest(), s.sha256);
  EXPECT_EQ(Signature(), s.signature);
  EXPECT_EQ(integrity::PayloadStatementSignedText(48213504, Digest()), s.signedText);
  EXPECT_EQ(kGood.substr(0, kGood.find("signature ")), s.signedText);

  const std::string empty = integrity::FormatPayloadStatement(0, Digest(), Signature());
  ASSERT_EQ(StatementParse::kOk, ParsePayloadStatement(empty, s));
  EXPECT_EQ(0u, s.size);
}

// Any deviation from the one written form is refused, so no two texts mean the same statement.
TEST(PayloadStatementTest, EveryOtherFormIsRefused) {
  const std::string hex64 = integrity::ToHex(Digest().data(), Digest().size());
  const std::string cases[] = {
      "",
      kGood.substr(0, kGood.size() - 1),  // no final LF
      kGood + "\n",
      kGood + "extra",
      Replaced("\n", "\r\n"),
      Replaced("size 48213504", "size  48213504"),
      Replaced("size 48213504", "size 048213504"),
      Replaced("size 48213504", "size +48213504"),
      Replaced("size 48213504", "size 9223372036854775808"),  // past the largest file offset
      Replaced("size 48213504", "size 99999999999999999999"),
      Replaced("size 48213504", "Size 48213504"),
      Replaced("sha256 " + hex64, "sha256 " + hex64.substr(1)),
      Replaced("sha256 01", "sha256 0A"),  // upper case
      Replaced("sha256 01", "sha256 0g"),
      Replaced("signature ff", "signature f"),
      Replaced("kvdownloader-statement 1", "kvdownloader-statement 01"),
      Replaced("kvdownloader-statement 1", "kvdownloader-statement"),
      Replaced("size 48213504\n", ""),
      Replaced("signature ", "signature  "),
  };
  for (const std::string& text : cases) {
    PayloadStatement s;
    s.size = 77;
    EXPECT_EQ(StatementParse::kMalformed, ParsePayloadStatement(text, s)) << text;
    EXPECT_EQ(77u, s.size);
  }
  PayloadStatement s;
  EXPECT_EQ(StatementParse::kTooLong, ParsePayloadStatement(kGood + std::string(1024, 'x'), s));
  EXPECT_EQ(StatementParse::kOk,
            ParsePayloadStatement(Replaced("size 48213504", "size 9223372036854775807"), s));
}

TEST(PayloadStatementTest, LaterVersionIsToldApart) {
  PayloadStatement s;
  EXPECT_EQ(StatementParse::kUnsupportedVersion,
            ParsePayloadStatement(Replaced("statement 1\n", "statement 2\n"), s));
  EXPECT_EQ(StatementParse::kUnsupportedVersion,
            ParsePayloadStatement("kvdownloader-statement 17\nanything else\n", s));
}

}  // namespace
