// The program's single source of user-visible text and of the product and URL configuration.
//
// Init and SetCustom run on the UI thread during start-up, before any worker thread starts;
// afterwards the object is read-only and every const accessor may be called from any thread
// without locking.
#pragma once

#include <cstddef>
#include <map>
#include <string>

class LanguageManager {
 public:
  LanguageManager() = default;

  // Resets everything and loads it again from `folder` (the language folder, ending in "/"):
  // the language chosen for the locale's UI language id, the product configuration, the URL
  // configuration of resource 107 and the string table.
  void Init(const std::wstring& folder);
  // The same for a given UI language id in decimal ("1033"), as tools and tests need.
  void Init(const std::wstring& folder, const std::wstring& uiLanguageId);

  // Chooses the language ("English" unless "language.ini" maps the id) and the right-to-left
  // flag. The first form asks the locale for the id.
  void InitCurrentLanguage();
  void InitCurrentLanguage(const std::wstring& uiLanguageId);

  // Built-in English texts overridden by the language's section of "text.ini", with PRODUCT,
  // COLOR and BRAND filled in (in that order). Calling it again gives the same table.
  void LoadTextTable();

  // Section "PRODUCT" of "productInfo.ini".
  void LoadProductInfo();

  // The URL configuration from resource 107; nothing changes when the resource is missing.
  void LoadUrlConfig();
  // The same from ini bytes (UTF-16LE, a leading byte-order mark skipped).
  void LoadUrlConfigFrom(const unsigned char* data, std::size_t size);

  // The UI string for a "STR_" key; "" for an unknown key.
  std::wstring GetText(const std::wstring& key) const;
  std::wstring GetLanguage() const { return language_; }
  bool IsRightToLeft() const { return rightToLeft_; }
  // The market domain code (empty until set).
  std::wstring GetCustom() const { return custom_; }
  void SetCustom(const std::wstring& value) { custom_ = value; }
  std::wstring GetFolder() const { return folder_; }

  // Product values ("" when absent).
  std::wstring GetProductValue(const std::wstring& key) const;
  std::wstring GetProductName() const;
  std::wstring GetGATitle() const;
  std::wstring GetLicenceColor() const;
  // The configured brand word, else the brand's default word.
  std::wstring GetBrandName() const;
  std::wstring GetExeName() const;
  // "DIR1/DIR2/" with empty names left out.
  std::wstring GetInstallSubDir() const;
  std::wstring GetExeRelativePath() const;
  // True unless "STR_RUN_AS_ADMIN" is exactly "0".
  bool IsRunAsAdmin() const;

  // URL values after loading ("" when absent).
  std::wstring GetUrlValue(const std::wstring& key) const;
  // The 64-bit or 32-bit installer address, as configured.
  std::wstring GetDownloadUrl() const;
  // The redirecting installer address with the domain code added; "" when not configured.
  std::wstring GetDownloadUrlEx() const;
  std::wstring GetInstallUrl() const;
  std::wstring GetLicenceUrl() const;
  // The banner list request of the brand's API server for this product and language.
  std::wstring GetCarouselUrl() const;
  // The brand's analytics collector endpoint.
  std::wstring GetAnalyticsUrl() const;

  // "&custom=" + the domain code appended to a non-empty url holding "key=", when the code is
  // set; otherwise the url unchanged.
  std::wstring AppendCustom(const std::wstring& url) const;

  // Share of the progress bar given to the download, in percent.
  int GetDownloadRatio() const { return 90; }
  // Period of the installer progress poll, in milliseconds.
  int GetReadFileTimeout() const { return 1500; }

  const std::map<std::wstring, std::wstring>& Strings() const { return strings_; }
  const std::map<std::wstring, std::wstring>& Urls() const { return urls_; }
  const std::map<std::wstring, std::wstring>& Product() const { return product_; }

 private:
  void Reset(const std::wstring& folder);

  std::map<std::wstring, std::wstring> strings_;
  std::map<std::wstring, std::wstring> urls_;
  std::map<std::wstring, std::wstring> product_;
  std::wstring folder_;
  std::wstring language_;
  std::wstring custom_;
  bool rightToLeft_ = false;
};
