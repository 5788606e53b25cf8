#include "log/detail/CheckedWide.h"

// What the test itself uses.
#include <gtest/gtest.h>

#include <cstdint>

using kvlog_detail::ArgKind;
using kvlog_detail::FormatMatches;
using kvlog_detail::KindOf;

namespace {

template <class... Args>
constexpr bool Matches(const wchar_t* f) {
  constexpr ArgKind kinds[] = {KindOf<Args>()..., ArgKind::Invalid};
  return FormatMatches(f, kinds, sizeof...(Args));
}

}  // namespace

// Checked at compile time; a regression here fails the build.
static_assert(Matches<int, long, std::size_t, std::int64_t>(L"%d %ld %zu %lld"));
static_assert(Matches<unsigned, short, char, bool>(L"%x %hd %c %u"));
static_assert(Matches<double, float, long double>(L"%f %g %Lf"));
static_assert(Matches<const wchar_t*, wchar_t*, const char*>(L"%ls %S %s"));
static_assert(Matches<const wchar_t*>(L"%s"));
static_assert(Matches<void*, const char*>(L"%p %p"));
static_assert(Matches<int, int, double>(L"%-*.*f"));
static_assert(Matches<>(L"100%% done"));
static_assert(Matches<>(nullptr));
static_assert(!Matches<long>(L"%d"));
static_assert(!Matches<int>(L"%lld"));
static_assert(!Matches<double>(L"%d"));
static_assert(!Matches<int>(L"%f"));
static_assert(!Matches<const char*>(L"%ls"));
static_assert(!Matches<int>(L"%s"));
static_assert(!Matches<int*>(L"%n"));
static_assert(!Matches<int>(L"%1$d"));
static_assert(!Matches<int>(L"%"));
static_assert(!Matches<int>(L""));
static_assert(!Matches<>(L"%d"));
static_assert(!Matches<long, int>(L"%*d"));

TEST(CheckedWide, WideArgumentsOfPlainSAreWidenedAndNarrowOnesKept) {
  constexpr ArgKind kinds[] = {ArgKind::Wide, ArgKind::Int32, ArgKind::Int32, ArgKind::Narrow,
                               ArgKind::Wide};
  EXPECT_EQ(kvlog_detail::WidenStringConversions(L"a%s %*d %s %-4s%%z", kinds, 5),
            L"a%ls %*d %s %-4ls%%z");
  EXPECT_TRUE(kvlog_detail::NeedsWideS(L"%s", kinds, 1));
  EXPECT_FALSE(kvlog_detail::NeedsWideS(L"%ls", kinds, 1));
}
