#include "integrity/PayloadCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "integrity/PayloadSigning.h"
#include "log/Log.h"
#include "tests/http/support/Widen.h"
#include "tests/platform/web/support/ScriptedServer.h"
#include "tests/support/TestSupport.h"

using integrity::ExpectedPayload;
using integrity::PayloadCheck;
using kvtest::Reply;
using kvtest::ScriptedRequest;
using kvtest::ScriptedServer;
using kvtest::W;
namespace fs = std::filesystem;

namespace {

// An open read-only descriptor, closed on destruction.
class OpenFile {
 public:
  explicit OpenFile(const fs::path& p) : fd_(open(p.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~OpenFile() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A publisher with a key, an installer and its statement, served over HTTP by the test.
class PayloadCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool logOpen = [] {
      static kvtest::TempDir logDir;
      LogInit(L"integrity.log", logDir.path().wstring().c_str());
      return true;
    }();
    (void)logOpen;
    installer_ = kvtest::PatternBytes(200000, 11);
    kvtest::WriteFile(dir_ / "setup.exe", installer_);
    ASSERT_TRUE(MakeKey("publisher.key", keys_));
    Sign("publisher.key");
    ASSERT_TRUE(server_.Start([this](const ScriptedRequest& r) { return Serve(r); }));
  }

  bool MakeKey(const std::string& name, integrity::PublicKeySet& into) {
    std::string error;
    if (!integrity::GenerateSigningKey((dir_ / name).string(), error)) return false;
    return into.AddPem(kvtest::ReadFile(dir_ / (name + ".pub")), error);
  }
  // Signs the current setup.exe with the key and takes its statement as the served one.
  void Sign(const std::string& key) {
    std::string error;
    ASSERT_TRUE(
        integrity::SignPayloadFile((dir_ / key).string(), (dir_ / "setup.exe").string(), error))
        << error;
    statement_ = kvtest::ReadFile(dir_ / "setup.exe.sig");
  }
  Reply Serve(const ScriptedRequest& r) {
    if (r.target == "/setup.exe.sig" || r.target == "/setup.exe.sig?token=1") {
      return Reply::Text(200, statement_);
    }
    if (r.target == "/huge.exe.sig") return Reply::Text(200, statement_ + std::string(2000, ' '));
    if (r.target == "/moved.exe.sig") {
      return Reply::Text(302, "", "Location: " + server_.BaseUrl() + "/setup.exe.sig\r\n");
    }
    return Reply::Text(404, "not here");
  }
  PayloadCheck Fetch(const std::string& path, ExpectedPayload& expected) {
    return integrity::FetchPayloadStatement(W(server_.BaseUrl() + path), keys_, expected);
  }

  kvtest::TempDir dir_;
  std::string installer_;
  std::string statement_;
  integrity::PublicKeySet keys_;
  ScriptedServer server_;
};

TEST_F(PayloadCheckTest, StatementGivesSizeAndDigestThatTheFileMustMatch) {
  ExpectedPayload expected;
  ASSERT_EQ(PayloadCheck::kOk, Fetch("/setup.exe", expected));
  EXPECT_EQ(installer_.size(), expected.size);
  EXPECT_EQ(kvtest::Sha256Hex(installer_),
            integrity::ToHex(expected.sha256.data(), expected.sha256.size()));
  EXPECT_EQ(keys_.Fingerprint(0), expected.signer);
  // The query stays after ".sig".
  ExpectedPayload again;
  EXPECT_EQ(PayloadCheck::kOk, Fetch("/setup.exe?token=1", again));
  EXPECT_EQ("/setup.exe.sig?token=1", server_.Requests().back().target);

  // The very descriptor is read from its start, and its offset is left alone.
  OpenFile file(dir_ / "setup.exe");
  ASSERT_EQ(5, lseek(file.fd(), 5, SEEK_SET));
  EXPECT_EQ(PayloadCheck::kOk, integrity::CheckPayloadFile(file.fd(), expected));
  EXPECT_EQ(5, lseek(file.fd(), 0, SEEK_CUR));

  // One flipped bit, one byte more, one byte less.
  std::string tampered = installer_;
  tampered[150000] ^= 0x01;
  kvtest::WriteFile(dir_ / "tampered.exe", tampered);
  EXPECT_EQ(PayloadCheck::kDigestMismatch,
            integrity::CheckPayloadFile(OpenFile(dir_ / "tampered.exe").fd(), expected));
  kvtest::WriteFile(dir_ / "longer.exe", installer_ + "x");
  EXPECT_EQ(PayloadCheck::kSizeMismatch,
            integrity::CheckPayloadFile(OpenFile(dir_ / "longer.exe").fd(), expected));
  kvtest::WriteFile(dir_ / "shorter.exe", installer_.substr(1));
  EXPECT_EQ(PayloadCheck::kSizeMismatch,
            integrity::CheckPayloadFile(OpenFile(dir_ / "shorter.exe").fd(), expected));
  EXPECT_EQ(PayloadCheck::kReadFailed, integrity::CheckPayloadFile(-1, expected));
}

TEST_F(PayloadCheckTest, StatementSignedByAnotherKey) {
  integrity::PublicKeySet otherKeys;
  ASSERT_TRUE(MakeKey("other.key", otherKeys));
  Sign("other.key");
  ExpectedPayload expected;
  expected.size = 5;
  EXPECT_EQ(PayloadCheck::kBadSignature, Fetch("/setup.exe", expected));
  EXPECT_EQ(5u, expected.size);
  // Either key of a brand in the middle of a rotation will do.
  std::string error;
  ASSERT_TRUE(keys_.AddPem(kvtest::ReadFile(dir_ / "other.key.pub"), error));
  ASSERT_EQ(PayloadCheck::kOk, Fetch("/setup.exe", expected));
  EXPECT_EQ(keys_.Fingerprint(1), expected.signer);
  EXPECT_NE(keys_.Fingerprint(0), expected.signer);
  EXPECT_EQ(PayloadCheck::kBadSignature,
            integrity::VerifyPayloadStatement(statement_, integrity::PublicKeySet(), expected));
}

// A genuine statement of another build: it verifies, and the file it is held against does not.
TEST_F(PayloadCheckTest, StatementForAnotherSize) {
  kvtest::WriteFile(dir_ / "setup.exe", installer_ + "older build");
  Sign("publisher.key");
  kvtest::WriteFile(dir_ / "setup.exe", installer_);
  ExpectedPayload expected;
  ASSERT_EQ(PayloadCheck::kOk, Fetch("/setup.exe", expected));
  EXPECT_EQ(installer_.size() + 11, expected.size);
  EXPECT_EQ(PayloadCheck::kSizeMismatch,
            integrity::CheckPayloadFile(OpenFile(dir_ / "setup.exe").fd(), expected));
}

TEST_F(PayloadCheckTest, StatementThatCannotBeHad) {
  ExpectedPayload expected;
  EXPECT_EQ(PayloadCheck::kStatementUnavailable, Fetch("/missing.exe", expected));
  EXPECT_EQ(PayloadCheck::kStatementUnavailable, Fetch("/huge.exe", expected));
  // A redirect within http is followed like any other.
  EXPECT_EQ(PayloadCheck::kOk, Fetch("/moved.exe", expected));
  const std::string closed = "http://127.0.0.1:" + std::to_string(kvtest::FreePort()) + "/a.exe";
  EXPECT_EQ(PayloadCheck::kStatementUnavailable,
            integrity::FetchPayloadStatement(W(closed), keys_, expected));

  statement_ = "kvdownloader-statement 2\nwhatever comes later\n";
  EXPECT_EQ(PayloadCheck::kStatementUnsupported, Fetch("/setup.exe", expected));
  statement_ = "<html>a login page</html>";
  EXPECT_EQ(PayloadCheck::kStatementMalformed, Fetch("/setup.exe", expected));
}

// An https statement URL is asked over TLS only: an https-to-http redirect and a certificate
// that does not verify both leave the statement unavailable, with no plain request made.
TEST_F(PayloadCheckTest, HttpsStatementNeverGoesPlain) {
  kvtest::TestCertificates certs;
  ASSERT_TRUE(kvtest::MakeTestCertificates(dir_ / "certs", {"127.0.0.1"}, certs));
  fs::create_directories(dir_ / "www");
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_exec);
  kvtest::NginxOptions o;
  o.root = dir_ / "www";
  o.tls = true;
  o.certFile = certs.serverCert;
  o.keyFile = certs.serverKey;
  o.extraServerConfig =
      "location = /down.exe.sig { return 302 " + server_.BaseUrl() + "/setup.exe.sig; }\n";
  kvtest::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(o));
  kvtest::WriteFile(dir_ / "www/setup.exe.sig", statement_);

  ExpectedPayload expected;
  setenv("SSL_CERT_FILE", certs.caCert.c_str(), 1);
  EXPECT_EQ(PayloadCheck::kOk,
            integrity::FetchPayloadStatement(W(nginx.BaseUrl() + "/setup.exe"), keys_, expected));
  EXPECT_EQ(PayloadCheck::kStatementUnavailable,
            integrity::FetchPayloadStatement(W(nginx.BaseUrl() + "/down.exe"), keys_, expected));
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(PayloadCheck::kStatementUnavailable,
            integrity::FetchPayloadStatement(W(nginx.BaseUrl() + "/setup.exe"), keys_, expected));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST(StatementUrlTest, SigGoesAfterThePath) {
  EXPECT_EQ(L"https://d.example/a/setup.exe.sig",
            integrity::StatementUrlFor(L"https://d.example/a/setup.exe"));
  EXPECT_EQ(L"https://d.example/get.sig?id=3#x",
            integrity::StatementUrlFor(L"https://d.example/get?id=3#x"));
}

TEST(PublicKeySetTest, OnlyEd25519PublicKeysAndAtMostTwo) {
  kvtest::TempDir dir;
  std::string error;
  ASSERT_TRUE(integrity::GenerateSigningKey((dir / "a.key").string(), error)) << error;
  const std::string pem = kvtest::ReadFile(dir / "a.key.pub");
  integrity::PublicKeySet keys;
  EXPECT_FALSE(keys.AddPem(kvtest::ReadFile(dir / "a.key"), error));
  EXPECT_FALSE(keys.AddPem("", error));
  EXPECT_FALSE(keys.AddPem(pem + "trailing words", error));
  // An RSA key is a public key of another kind.
  kvtest::ChildProcess openssl;
  ASSERT_TRUE(openssl.Start({"sh", "-c",
                             "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 "
                             "2>/dev/null | openssl pkey -pubout > " +
                                 (dir / "rsa.pub").string()}));
  ASSERT_EQ(0, openssl.Wait(std::chrono::seconds(30)));
  EXPECT_FALSE(keys.AddPem(kvtest::ReadFile(dir / "rsa.pub"), error));
  EXPECT_EQ("a key is not an Ed25519 key", error);
  EXPECT_TRUE(keys.empty());
  ASSERT_TRUE(keys.AddPem(pem + "\n" + pem, error)) << error;
  EXPECT_EQ(2u, keys.size());
  EXPECT_FALSE(keys.AddPem(pem, error));
  EXPECT_EQ(2u, keys.size());
  EXPECT_EQ(16u, keys.Fingerprint(0).size());
}

}  // namespace
