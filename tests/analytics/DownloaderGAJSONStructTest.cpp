#include "analytics/DownloaderGAJSONStruct.h"

#include <gtest/gtest.h>

namespace {

GAPayload Payload() {
  GAPayload p;
  p.clientId = "1A2B3C4D-0001-00ab-0102-030405060708";
  p.userId = p.clientId;
  p.events.push_back(
      {"Downloader_Start_Install", "Korvana Lumenstack (Windows version)", p.clientId});
  return p;
}

TEST(DownloaderGAJSONStructTest, StartInstallBodyIsExact) {
  GAPayload payload = Payload();
  rapidjson::Document doc;
  CDownloaderGAJSONStruct binder(payload, doc.GetAllocator());
  EXPECT_EQ(
      "{\n"
      "    \"client_id\": \"1A2B3C4D-0001-00ab-0102-030405060708\",\n"
      "    \"user_properties\": {\n"
      "        \"uid\": {\n"
      "            \"value\": \"1A2B3C4D-0001-00ab-0102-030405060708\"\n"
      "        }\n"
      "    },\n"
      "    \"events\": [\n"
      "        {\n"
      "            \"name\": \"Downloader_Start_Install\",\n"
      "            \"params\": {\n"
      "                \"event_category\": \"Korvana Lumenstack (Windows version)\",\n"
      "                \"event_label\": \"1A2B3C4D-0001-00ab-0102-030405060708\"\n"
      "            }\n"
      "        }\n"
      "    ]\n"
      "}",
      ToJsonText(binder, doc));
}

TEST(DownloaderGAJSONStructTest, KeyFilterLeavesMembersOut) {
  GAPayload payload = Payload();
  payload.events[0].category = "T\xC3\xBCrk \"q\"";
  {
    rapidjson::Document doc;
    CDownloaderGAJSONStruct binder(payload, doc.GetAllocator());
    binder.filterKeys = {"event_label", "user_properties"};
    const std::string text = ToJsonText(binder, doc);
    EXPECT_EQ(std::string::npos, text.find("event_label"));
    EXPECT_EQ(std::string::npos, text.find("user_properties"));
    EXPECT_NE(std::string::npos, text.find("\"event_category\": \"T\xC3\xBCrk \\\"q\\\"\""));
  }
  {
    rapidjson::Document doc;
    CDownloaderGAJSONStruct binder(payload, doc.GetAllocator());
    binder.filterMode = 1;
    binder.filterKeys = {"client_id"};
    EXPECT_EQ("{\n    \"client_id\": \"1A2B3C4D-0001-00ab-0102-030405060708\"\n}",
              ToJsonText(binder, doc));
  }
  {
    rapidjson::Document doc;
    CDownloaderGAJSONStruct binder(payload, doc.GetAllocator());
    binder.filterMode = 7;
    binder.filterKeys = {"client_id"};
    EXPECT_NE(std::string::npos, ToJsonText(binder, doc).find("client_id"));
  }
}

TEST(DownloaderGAJSONStructTest, EmptyIdentifierIsWrittenAsEmptyText) {
  GAPayload payload;
  payload.events.push_back({"Installed_Succeed", "", ""});
  rapidjson::Document doc;
  CDownloaderGAJSONStruct binder(payload, doc.GetAllocator());
  const std::string text = ToJsonText(binder, doc);
  EXPECT_NE(std::string::npos, text.find("\"client_id\": \"\""));
  EXPECT_NE(std::string::npos, text.find("\"event_label\": \"\""));
}

}  // namespace
