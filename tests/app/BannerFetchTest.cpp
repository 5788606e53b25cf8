#include "app/BannerFetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/app/support/CarouselService.h"

namespace {
namespace fs = std::filesystem;
using bannertest::BannerBytes;
using bannertest::BannerMd5;
using bannertest::CarouselService;
using Numbers = std::vector<int>;

class BannerFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logStart_ = bannertest::LogText().size();
    cache_ = dir_ / "language" / "English";
  }
  // Runs the worker's body to its end against the service.
  BannerShared& Fetch(const std::string& query = "", const std::string& language = "English") {
    settings_ = BannerFetchSettings{service_.CarouselUrl(language, query),
                                    bannertest::FolderOf(cache_), kDefaultMaxBannerImages};
    shared_ = std::make_unique<BannerShared>();
    FetchBannerImages(settings_, *shared_);
    return *shared_;
  }
  std::string Cached(int n) {
    return kvtest::ReadFile(cache_ / ("pr_" + std::to_string(n) + ".png"));
  }
  bool IsCached(int n) { return fs::exists(cache_ / ("pr_" + std::to_string(n) + ".png")); }
  void Cache(int n, const std::string& bytes) {
    kvtest::WriteFile(cache_ / ("pr_" + std::to_string(n) + ".png"), bytes);
  }
  std::string NewLog() { return bannertest::LogText().substr(logStart_); }
  // Files in the cache folder other than pr_<n>.png.
  std::vector<std::string> StrayFiles() {
    std::vector<std::string> stray;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(cache_, ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("pr_", 0) != 0 || name.find(".png") != name.size() - 4) stray.push_back(name);
    }
    return stray;
  }

  kvtest::TempDir dir_;
  fs::path cache_;
  CarouselService service_;
  BannerFetchSettings settings_;
  std::unique_ptr<BannerShared> shared_;
  std::size_t logStart_ = 0;
};

TEST(FileMd5Test, DigestsFilesAndFailsEmpty) {
  kvtest::TempDir dir;
  kvtest::WriteFile(dir / "abc", "abc");
  kvtest::WriteFile(dir / "empty", "");
  // Longer than one read block, and not a multiple of it.
  const std::string big = kvtest::PatternBytes(3 * 4096 + 17, 5);
  kvtest::WriteFile(dir / "big", big);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", FileMd5((dir / "abc").wstring()));
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", FileMd5((dir / "empty").wstring()));
  const std::string bigDigest = FileMd5((dir / "big").wstring());
  EXPECT_EQ(32u, bigDigest.size());
  EXPECT_TRUE(std::all_of(bigDigest.begin(), bigDigest.end(),
                          [](char c) { return std::isxdigit(c) && !std::isupper(c); }));
  EXPECT_EQ("", FileMd5((dir / "missing").wstring()));
  EXPECT_EQ("", FileMd5(dir.path().wstring()));  // a folder

  EXPECT_TRUE(SameDigest("900150983CD24FB0D6963F7D28E17F72", "900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_FALSE(SameDigest("900150983cd24fb0d6963f7d28e17f7", "900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_FALSE(SameDigest("", "900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_FALSE(SameDigest("a00150983cd24fb0d6963f7d28e17f72", "900150983cd24fb0d6963f7d28e17f72"));
}

TEST_F(BannerFetchTest, FreshCacheGetsEveryListedImage) {
  ASSERT_TRUE(service_.Start());
  BannerShared& shared = Fetch();
  EXPECT_EQ(1, shared.ready.load());
  EXPECT_EQ(3, shared.count.load());
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(BannerBytes(n), Cached(n)) << n;
  EXPECT_EQ(Numbers({1, 2, 3}), service_.ImageRequests());
  EXPECT_TRUE(StrayFiles().empty());
  const std::string log = NewLog();
  const std::size_t start = log.find("get image start.");
  EXPECT_NE(std::string::npos, start) << log;
  EXPECT_LT(start, log.find("get image finished.")) << log;
}

TEST_F(BannerFetchTest, DigestsDecideWhatIsFetchedInAnyLetterCase) {
  ASSERT_TRUE(service_.Start());
  Cache(1, BannerBytes(1));  // up to date
  Cache(2, BannerBytes(3));  // stale: another picture
  // Listed in upper case: image 1 still matches, image 2 is replaced, image 3 is new.
  EXPECT_EQ(3, Fetch("upper=1").count.load());
  EXPECT_EQ(Numbers({2, 3}), service_.ImageRequests());
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(BannerBytes(n), Cached(n)) << n;

  // Stale again, listed in lower case; the rest is not asked for.
  Cache(3, BannerBytes(1));
  Fetch();
  EXPECT_EQ(Numbers({2, 3, 3}), service_.ImageRequests());
  EXPECT_EQ(BannerBytes(3), Cached(3));
  // Nothing changed: one small request and no image.
  Fetch();
  EXPECT_EQ(Numbers({2, 3, 3}), service_.ImageRequests());
  EXPECT_EQ(3u, service_.Requests().size() - service_.ImageRequests().size());
}

TEST_F(BannerFetchTest, LongListIsCutToTheDotCountAndOldImagesGo) {
  ASSERT_TRUE(service_.Start({"--list", "12"}));
  Cache(11, BannerBytes(2));  // left from some earlier list
  EXPECT_EQ(10, Fetch().count.load());
  EXPECT_EQ(Numbers({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), service_.ImageRequests());
  EXPECT_EQ(BannerBytes(1), Cached(10));
  EXPECT_FALSE(IsCached(11));
  EXPECT_NE(std::string::npos, NewLog().find("carousel lists 12 images, the first 10 are used."));

  // A shorter list removes what it no longer names; an offline run must not show them.
  EXPECT_EQ(2, Fetch("list=2").count.load());
  EXPECT_TRUE(IsCached(2));
  for (int n = 3; n <= 10; ++n) EXPECT_FALSE(IsCached(n)) << n;
}

TEST_F(BannerFetchTest, BrokenDownloadsNeverReplaceAGoodImage) {
  ASSERT_TRUE(service_.Start());
  // Image 2 is a good picture with a stale digest, image 3 is not cached at all.
  for (const char* fault : {"cut", "missing", "html", "big"}) {
    SCOPED_TRACE(fault);
    Cache(2, BannerBytes(3));
    fs::remove(cache_ / "pr_3.png");
    const std::string query = std::string(fault) + "=2,3";
    EXPECT_EQ(3, Fetch(query).count.load());
    EXPECT_EQ(BannerBytes(3), Cached(2));
    EXPECT_FALSE(IsCached(3));
    EXPECT_EQ(BannerBytes(1), Cached(1));
    EXPECT_TRUE(StrayFiles().empty());
  }
  const std::string log = NewLog();
  EXPECT_NE(std::string::npos, log.find("image answer status 404")) << log;
  EXPECT_NE(std::string::npos, log.find("is not a whole PNG or JPEG picture")) << log;
  EXPECT_NE(std::string::npos, log.find("download image failed, url[http://127.0.0.1:" +
                                        std::to_string(service_.port()) +
                                        "/downloader/banners/2.png?lang=English&cut=1], filePath[" +
                                        (cache_ / "pr_2.png").string() + "]."))
      << log;
  // Served whole again, the stale one is replaced at last.
  Fetch();
  EXPECT_EQ(BannerBytes(2), Cached(2));
}

TEST_F(BannerFetchTest, NoUsableListLeavesTheCacheAlone) {
  Cache(1, BannerBytes(1));
  Cache(2, BannerBytes(2));
  kvtest::WriteFile(cache_ / "pr_1.png.0123456789abcdef.part", "half");
  {
    // Nobody listens: the cache serves an offline run.
    const int unused = kvtest::FreePort();
    settings_ = BannerFetchSettings{L"http://127.0.0.1:" + std::to_wstring(unused) +
                                        L"/downloader/carousel?pid=1102&lang=English",
                                    bannertest::FolderOf(cache_), 10};
    BannerShared shared;
    FetchBannerImages(settings_, shared);
    EXPECT_EQ(1, shared.ready.load());
    EXPECT_EQ(-1, shared.count.load());
  }
  ASSERT_TRUE(service_.Start());
  // Code 0, a product or language the service does not know, an answer past 64 KiB.
  EXPECT_EQ(-1, Fetch("code=0").count.load());
  EXPECT_EQ(-1, Fetch("", "Klingon").count.load());
  EXPECT_EQ(-1, Fetch("pad=70000").count.load());
  EXPECT_NE(std::string::npos, NewLog().find("is over 65536 bytes"));
  // Just below the bound the answer counts.
  EXPECT_EQ(3, Fetch("list=3&pad=64000").count.load());
  EXPECT_EQ(Numbers({3}), service_.ImageRequests());
  EXPECT_EQ(BannerBytes(1), Cached(1));
  EXPECT_TRUE(StrayFiles().empty());  // the leftover of a broken run is gone
}

TEST_F(BannerFetchTest, EachLanguageHasItsOwnFolder) {
  ASSERT_TRUE(service_.Start());
  Fetch("list=2");
  cache_ = dir_ / "language" / "German";
  EXPECT_EQ(3, Fetch("", "German").count.load());
  EXPECT_EQ(BannerBytes(3), Cached(3));
  EXPECT_FALSE(fs::exists(dir_ / "language" / "English" / "pr_3.png"));
  EXPECT_EQ(Numbers({1, 2, 1, 2, 3}), service_.ImageRequests());
}

}  // namespace
