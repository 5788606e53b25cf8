#include "log/detail/FunctionName.h"

// What the test itself uses.
#include <gtest/gtest.h>

using kvlog_detail::QualifiedFunctionName;

TEST(FunctionName, CompilerDescriptionsBecomeQualifiedNames) {
  EXPECT_EQ(QualifiedFunctionName("void CGA::SendGACommon(const std::string&, int)"),
            "CGA::SendGACommon");
  EXPECT_EQ(QualifiedFunctionName("static bool ns::Outer::Inner::Run()"), "ns::Outer::Inner::Run");
  EXPECT_EQ(QualifiedFunctionName("int CSetupFrameWnd::OnClickInstall() const"),
            "CSetupFrameWnd::OnClickInstall");
  EXPECT_EQ(QualifiedFunctionName("std::map<int, std::basic_string<char> > A::B(int (*)(int))"),
            "A::B");
  EXPECT_EQ(QualifiedFunctionName("const char* T<U>::F() [with U = std::pair<int, int>]"),
            "T<U>::F");
  EXPECT_EQ(QualifiedFunctionName("int main(int, char**)"), "main");
  EXPECT_EQ(QualifiedFunctionName("bool A::operator==(const A&) const"), "A::operator==");
  EXPECT_EQ(QualifiedFunctionName("CGA::SendGACommon"), "CGA::SendGACommon");
  EXPECT_EQ(QualifiedFunctionName("CSetupFrameWnd::OnClickInstall()::<lambda(int)>"),
            "CSetupFrameWnd::OnClickInstall()::<lambda(int)>");
}

TEST(FunctionName, SourceFileNameTakesEitherSeparator) {
  EXPECT_EQ(kvlog_detail::SourceFileName("/src/app/Main.cpp"), "Main.cpp");
  EXPECT_EQ(kvlog_detail::SourceFileName("C:\\src\\GA.cpp"), "GA.cpp");
  EXPECT_EQ(kvlog_detail::SourceFileName("plain.cpp"), "plain.cpp");
}
