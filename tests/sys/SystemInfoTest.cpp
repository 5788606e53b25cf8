#include "sys/SystemInfo.h"

// What the test itself uses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "sys/detail/LanguageIds.h"
#include "tests/platform/TestEnv.h"
#include "tests/platform/TestUser.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platformtest::ScopedEnv;

namespace {

std::vector<std::string> RunProbe(const fs::path& exe, const std::string& programFiles) {
  fs::path out = exe.string() + ".out";
  kvtest::ChildProcess child;
  EXPECT_TRUE(child.Start({exe.string()}, out.string(), {{"KV_PROGRAM_FILES", programFiles}}));
  EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 0);
  std::vector<std::string> lines;
  std::istringstream in(kvtest::ReadFile(out));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace

TEST(SystemInfo, WorkFolderFollowsTheExecutableNameUpToItsLastDot) {
  kvtest::TempDir dir;
  const std::string pf = (dir / "pf").string();
  struct Case {
    std::string file, base;
  } cases[] = {{"setup 2", "setup 2"},
               {"setup.beta", "setup"},
               {"kvsetup", "kvsetup"},
               {"setup.beta.exe", "setup.beta"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    fs::path exe = dir / c.file;
    fs::copy_file(KV_SYS_PROBE, exe);
    std::vector<std::string> facts = RunProbe(exe, pf);
    ASSERT_EQ(facts.size(), 3u);
    EXPECT_EQ(facts[0], exe.string());
    EXPECT_EQ(facts[1], pf + "/korvana_down/" + c.base + "/");
    EXPECT_EQ(facts[2], pf + "/");
  }
}

TEST(SystemInfo, DefaultInstallationFolderIsTheUsersDataFolder) {
  if (::geteuid() == 0) {
    ScopedEnv pf("KV_PROGRAM_FILES", nullptr);
    EXPECT_EQ(GetProgramFilesFolder(), L"/opt/");
    return;
  }
  ScopedEnv pf("KV_PROGRAM_FILES", nullptr);
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(GetProgramFilesFolder(), L"/srv/data/");
  }
  ScopedEnv data("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(GetProgramFilesFolder(), L"/home/someone/.local/share/");
}

TEST(SystemInfo, FileNameFromPathTakesTheLastComponent) {
  EXPECT_EQ(GetFileNameFromPath(L"/opt/korvana/setup.exe"), L"setup.exe");
  EXPECT_EQ(GetFileNameFromPath(L"C:\\Program Files\\setup.exe"), L"setup.exe");
  EXPECT_EQ(GetFileNameFromPath(L"a/b\\c"), L"c");
  EXPECT_EQ(GetFileNameFromPath(L"plain"), L"plain");
  EXPECT_EQ(GetFileNameFromPath(L"folder/"), L"");
  EXPECT_EQ(GetFileNameFromPath(L""), L"");
}

TEST(SystemInfo, UiLanguageIdComesFromTheFirstSetLocaleVariable) {
  ScopedEnv all("LC_ALL", "ar_SA.UTF-8");
  ScopedEnv msg("LC_MESSAGES", "de_DE.UTF-8");
  ScopedEnv lang("LANG", "fr_FR.UTF-8");
  EXPECT_EQ(GetUiLanguageId(), L"1025");
  ::unsetenv("LC_ALL");
  EXPECT_EQ(GetUiLanguageId(), L"1031");
  ::setenv("LC_MESSAGES", "", 1);
  EXPECT_EQ(GetUiLanguageId(), L"1036");
  ::unsetenv("LANG");
  EXPECT_EQ(GetUiLanguageId(), L"1033");
}

TEST(SystemInfo, EveryProgramLanguageIsReachedFromItsLocale) {
  using kvsys_detail::LanguageIdOfLocale;
  const std::pair<const char*, int> expected[] = {
      {"en_US.UTF-8", 1033},
      {"zh_CN.UTF-8", 2052},
      {"zh_TW.UTF-8", 1028},
      {"nl_NL.UTF-8", 1043},
      {"fr_FR.UTF-8", 1036},
      {"de_DE.UTF-8", 1031},
      {"it_IT.UTF-8", 1040},
      {"ja_JP.UTF-8", 1041},
      {"es_ES.UTF-8", 3082},
      {"pt_PT.UTF-8", 2070},
      {"ko_KR.UTF-8", 1042},
      {"ar_SA.UTF-8", 1025},
      {"th_TH.UTF-8", 1054},
      {"id_ID.UTF-8", 1057},
      {"ms_MY.UTF-8", 1086},
      {"sv_SE.UTF-8", 1053},
      {"pl_PL.UTF-8", 1045},
      {"ru_RU.UTF-8", 1049},
      {"nb_NO.UTF-8", 1044},
      {"da_DK.UTF-8", 1030},
      {"ga_IE.UTF-8", 2108},
      {"fi_FI.UTF-8", 1035},
      {"cs_CZ.UTF-8", 1029},
      {"vi_VN.UTF-8", 1066},
      {"el_GR.UTF-8", 1032},
      {"sk_SK.UTF-8", 1051},
      {"he_IL.UTF-8", 1037},
      {"tr_TR.UTF-8", 1055},
      {"ro_RO.UTF-8", 1048},
      {"hu_HU.UTF-8", 1038},
      {"bg_BG.UTF-8", 1026},
      {"hr_HR.UTF-8", 1050},
      {"kk_KZ.UTF-8", 1087},
      {"sr_RS.UTF-8", 10266},
      {"sl_SI.UTF-8", 1060},
      {"lt_LT.UTF-8", 1063},
      {"az_AZ.UTF-8@cyrillic", 2092},
      {"ka_GE.UTF-8", 1079},
      {"lv_LV.UTF-8", 1062},
      {"et_EE.UTF-8", 1061},
      {"is_IS.UTF-8", 1039},
      // Variants keep their own ids, so the program shows them its fallback.
      {"en_GB.UTF-8", 2057},
      {"pt_BR.UTF-8", 1046},
      {"es_MX", 2058},
      {"sr_RS@latin", 9242},
      // Spellings seen in the wild.
      {"zh-TW", 1028},
      {"de", 1031},
      {"iw_IL", 1037},
      {"no_NO.ISO-8859-1", 1044},
      {"pt_AO.UTF-8", 2070},
      {"xx_YY.UTF-8", 1033},
      {"C", 1033},
      {"POSIX", 1033},
      {"", 1033},
      {"C.UTF-8", 1033}};
  for (const auto& [locale, id] : expected) {
    EXPECT_EQ(LanguageIdOfLocale(locale), id) << locale;
  }
}

namespace {

// Free space in MiB as statvfs counts it: all free blocks, or those anyone may take.
enum class Blocks { Free, Available };
std::uint32_t ToMb(const struct statvfs& s, Blocks which) {
  unsigned long long blocks = which == Blocks::Free ? s.f_bfree : s.f_bavail;
  return static_cast<std::uint32_t>(blocks * s.f_frsize / 1048576ull);
}

}  // namespace

TEST(SystemInfo, FreeSpaceIsAllFreeBlocksForRootAndTheUsableOnesForAUser) {
  KV_SKIP_UNLESS_ROOT();
  platformtest::TestUser user;
  ASSERT_TRUE(user.ok());
  kvtest::TempDir dir;
  const std::string probe = platformtest::ReachableCopy(dir.path(), KV_SYS_PROBE);
  struct statvfs before {
  }, after{};
  ASSERT_EQ(::statvfs(dir.path().c_str(), &before), 0);
  kvtest::ChildProcess child;
  ASSERT_TRUE(child.Start(user.As({probe, "free", dir.path().string()}), (dir / "out").string()));
  ASSERT_EQ(child.Wait(std::chrono::seconds(30)), 0);
  std::uint32_t rootMb = 0;
  ASSERT_TRUE(GetFreeSpaceMB(dir.path().wstring(), rootMb));
  ASSERT_EQ(::statvfs(dir.path().c_str(), &after), 0);
  const std::uint32_t userMb =
      static_cast<std::uint32_t>(std::stoul(kvtest::ReadFile(dir / "out")));
  EXPECT_GE(userMb, std::min(ToMb(before, Blocks::Available), ToMb(after, Blocks::Available)));
  EXPECT_LE(userMb, std::max(ToMb(before, Blocks::Available), ToMb(after, Blocks::Available)));
  EXPECT_GE(rootMb, std::min(ToMb(before, Blocks::Free), ToMb(after, Blocks::Free)));
  EXPECT_LE(rootMb, std::max(ToMb(before, Blocks::Free), ToMb(after, Blocks::Free)));
}

TEST(SystemInfo, WorkFolderPreCreatedByAnotherUserIsReplacedByARootOwnedOne) {
  KV_SKIP_UNLESS_ROOT();
  platformtest::TestUser user;
  ASSERT_TRUE(user.ok());
  platformtest::RootOwnedDir programFiles;
  ASSERT_FALSE(programFiles.path().empty());
  ScopedEnv pf("KV_PROGRAM_FILES", programFiles.path().c_str());
  ScopedEnv sudo("SUDO_UID", nullptr);  // the override is a test hook: honoured without sudo
  const fs::path work = WideToUtf8(GetWorkFolder());
  ASSERT_EQ(work, programFiles / "korvana_down" / "sys_system_info_test" / "");
  fs::create_directories(work / "Log");
  for (const fs::path& p : {work.parent_path().parent_path(), work.parent_path(), work / "Log"}) {
    ASSERT_EQ(::chown(p.c_str(), user.uid(), user.gid()), 0);
  }
  EXPECT_EQ(PrepareWorkFolder(), platform::PrepareResult::Replaced);
  struct stat st {};
  ASSERT_EQ(::lstat(work.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 0022, 0u);
  EXPECT_FALSE(fs::exists(work / "Log"));
  EXPECT_EQ(PrepareWorkFolder(), platform::PrepareResult::Ready);
}

TEST(SystemInfo, FreeSpaceIsCountedInMebibytes) {
  kvtest::TempDir dir;
  const Blocks ours = ::geteuid() == 0 ? Blocks::Free : Blocks::Available;
  struct statvfs before {
  }, after{};
  std::uint32_t mb = 7;
  ASSERT_EQ(::statvfs(dir.path().c_str(), &before), 0);
  ASSERT_TRUE(GetFreeSpaceMB(dir.path().wstring(), mb));
  ASSERT_EQ(::statvfs(dir.path().c_str(), &after), 0);
  auto toMb = [ours](const struct statvfs& s) { return ToMb(s, ours); };
  // Other processes write meanwhile: the answer lies between the two readings.
  EXPECT_GE(mb, std::min(toMb(before), toMb(after)));
  EXPECT_LE(mb, std::max(toMb(before), toMb(after)));

  // A folder still to be made lies on its parent's file system.
  std::uint32_t notYet = 0;
  ASSERT_TRUE(GetFreeSpaceMB((dir / "missing/deeper/").wstring(), notYet));
  EXPECT_GE(notYet, std::min(toMb(before), toMb(after)) * 9 / 10);
  EXPECT_LE(notYet, std::max(toMb(before), toMb(after)) * 11 / 10 + 1);

  // A path through a file can never be a folder.
  kvtest::WriteFile(dir / "file", "x");
  std::uint32_t untouched = 7;
  EXPECT_FALSE(GetFreeSpaceMB((dir / "file" / "sub").wstring(), untouched));
  EXPECT_FALSE(GetFreeSpaceMB(L"", untouched));
  EXPECT_EQ(untouched, 7u);
}

TEST(SystemInfo, VersionAndDescriptionComeFromTheVersionRecord) {
  // This test program is built with the record 4.4.0.1 / "KV Probe Tool \xc3\xa9".
  const std::wstring self = GetModulePath();
  EXPECT_EQ(GetFileVersion(self), L"4.4.0.1");
  EXPECT_EQ(GetFileDescription(self), L"KV Probe Tool \u00e9");

  kvtest::TempDir dir;
  fs::path copy = dir / "renamed copy.bin";
  fs::copy_file(WideToUtf8(self), copy);
  EXPECT_EQ(GetFileVersion(copy.wstring()), L"4.4.0.1");

  // A real program without the record, a text file, a folder and nothing at all.
  kvtest::WriteFile(dir / "text.txt",
                    "\x7f"
                    "ELF but not really");
  for (const std::wstring& p :
       {std::wstring(L"/bin/true"), (dir / "text.txt").wstring(), dir.path().wstring(),
        (dir / "missing").wstring(), std::wstring()}) {
    EXPECT_EQ(GetFileVersion(p), L"") << WideToUtf8(p);
    EXPECT_EQ(GetFileDescription(p), L"") << WideToUtf8(p);
  }
}

TEST(SystemInfo, FileExistsOnlyForReadableFiles) {
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "a.txt", "x");
  EXPECT_TRUE(FileExists((dir / "a.txt").wstring()));
  EXPECT_FALSE(FileExists(dir.path().wstring()));
  EXPECT_FALSE(FileExists((dir / "none").wstring()));
  EXPECT_FALSE(FileExists(L""));
  // A named pipe is no file, and asking must not wait for a writer.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  EXPECT_FALSE(FileExists((dir / "pipe").wstring()));
  EXPECT_FALSE(FileExists(L"/dev/null"));
  if (::geteuid() != 0) {
    ::chmod((dir / "a.txt").c_str(), 0);
    EXPECT_FALSE(FileExists((dir / "a.txt").wstring()));
  }
}

TEST(SystemInfo, CreateFolderTreeMakesEveryMissingParent) {
  kvtest::TempDir dir;
  fs::path deep = dir / "a b" / "\xd0\x96" / "c";
  EXPECT_TRUE(CreateFolderTree(Utf8ToWide(deep.string() + "/")));
  EXPECT_TRUE(fs::is_directory(deep));
  struct stat st {};
  ASSERT_EQ(::stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0755, 0u);
  EXPECT_TRUE(CreateFolderTree(Utf8ToWide(deep.string())));  // already there
  kvtest::WriteFile(dir / "file", "x");
  EXPECT_FALSE(CreateFolderTree((dir / "file" / "sub").wstring()));
  EXPECT_FALSE(CreateFolderTree((dir / "file").wstring()));
}

TEST(SystemInfo, ConversionsKeepTextAndMarkWhatCannotBeRead) {
  const std::wstring mixed = L"Abc \u00e9\u0416\u4e2d\U0001F600";
  const std::string utf8 = "Abc \xc3\xa9\xd0\x96\xe4\xb8\xad\xf0\x9f\x98\x80";
  EXPECT_EQ(WideToUtf8(mixed), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), mixed);
  // The locale here is UTF-8 (a plain C locale counts as such), so these agree with UTF-8.
  EXPECT_EQ(WideToAnsi(mixed), utf8);
  EXPECT_EQ(AnsiToWide(utf8), mixed);
  EXPECT_EQ(LocaleToWide(WideToLocale(mixed)), mixed);
  // Broken input is marked, never dropped or read past.
  EXPECT_EQ(Utf8ToWide("a\xff"
                       "b\xc3"),
            L"a\uFFFDb\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xc0\xaf"), L"\uFFFD\uFFFD");            // overlong "/"
  EXPECT_EQ(Utf8ToWide("\xed\xa0\x80"), L"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
  EXPECT_EQ(LocaleToWide("x\xffy"), L"x?y");
  EXPECT_EQ(WideToLocale(std::wstring(1, static_cast<wchar_t>(0xD800))), "?");
}

TEST(SystemInfo, OsProductNameIsThePrettyName) {
  std::wstring name = GetOsProductName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.find(L'"'), std::wstring::npos);
  EXPECT_NE(name.find(L"Debian"), std::wstring::npos);
}
