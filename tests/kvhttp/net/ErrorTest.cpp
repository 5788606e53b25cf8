#include "kvhttp/net/Error.h"

#include <gtest/gtest.h>

namespace kvhttp {
namespace {

TEST(ErrorTest, MessagesAndConditions) {
  const auto& cat = error_category();
  EXPECT_STREQ(cat.name(), "HTTP");
  EXPECT_EQ(make_error_code(errc::invalid_chunked_encoding).message(), "Invalid chunked encoding");
  EXPECT_EQ(make_status_error(416).message(), "Requested range not satisfiable");
  EXPECT_EQ(make_error_code(errc::socks_identd_error).message(),
            make_error_code(errc::socks_no_identd).message());
  EXPECT_EQ(make_status_error(299).message(), "Unknown HTTP error");

  EXPECT_EQ(make_status_error(401), boost::system::errc::permission_denied);
  EXPECT_EQ(make_status_error(403), boost::system::errc::permission_denied);
  EXPECT_EQ(make_status_error(404), boost::system::errc::no_such_file_or_directory);
  EXPECT_NE(make_status_error(405), boost::system::errc::no_such_file_or_directory);
  EXPECT_EQ(make_status_error(405).default_error_condition().category(), cat);

  char small[6];
  EXPECT_STREQ(cat.message(2, small, sizeof small), "Malfo");
}

}  // namespace
}  // namespace kvhttp
