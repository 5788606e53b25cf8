#include "config/LanguageTables.h"

#include <utility>

const std::vector<KnownLanguage>& KnownLanguages() {
  static const std::vector<KnownLanguage> table = {
      {1033, L"English"},     {2052, L"Chinese"},    {1028, L"ChineseTW"}, {1043, L"Dutch"},
      {1036, L"French"},      {1031, L"German"},     {1040, L"Italian"},   {1041, L"Japanese"},
      {3082, L"Spanish"},     {2070, L"Portuguese"}, {1042, L"Korean"},    {1025, L"Arabic"},
      {1054, L"Thai"},        {1057, L"Indonesian"}, {1086, L"Malaysian"}, {1053, L"Swedish"},
      {1045, L"Polish"},      {1049, L"Russian"},    {1044, L"Norwegian"}, {1030, L"Danish"},
      {2108, L"Irish"},       {1035, L"Finnish"},    {1029, L"Czech"},     {1066, L"Vietnamese"},
      {1032, L"Greek"},       {1051, L"Slovak"},     {1037, L"Hebrew"},    {1055, L"Turkey"},
      {1048, L"Romanian"},    {1038, L"Hungarian"},  {1026, L"Bulgarian"}, {1050, L"Croatian"},
      {1087, L"Kazakh"},      {10266, L"Serbian"},   {1060, L"Slovenian"}, {1063, L"Lithuanian"},
      {2092, L"Azerbaijani"}, {1079, L"Georgian"},   {1062, L"Latvian"},   {1061, L"Estonian"},
      {1039, L"Icelandic"},
  };
  return table;
}

namespace {

const std::vector<std::pair<std::wstring, std::wstring>>& DefaultRows() {
  static const std::vector<std::pair<std::wstring, std::wstring>> rows = {
      {L"STR_INSTALL", L"Install"},
      {L"STR_BROWSE", L"Browse"},
      {L"STR_LISENCE", L"I've read and agreed to {c COLOR}BRAND License Agreement{/c}"},
      {L"STR_CUSTOMIZE_INSTALL", L"Customize Installation"},
      {L"STR_INSTALL_PATH", L"Installation Path"},
      {L"STR_SELECT_FOLDER", L"Select a location to install the program"},
      {L"STR_STORAGE", L"Insuficient storage. Storage required:"},
      {L"STR_PATH_INVALID", L"The installation path is invalid."},
      {L"STR_INSTALLING", L"Installing..."},
      {L"STR_HIDE", L"Hide"},
      {L"STR_MESSAGEBOX_TITLE", L"PRODUCT Setup"},
      {L"STR_NETWORK_ERROR", L"Network error. Please check your network settings."},
      {L"STR_OPERATE_TIP",
       L"Click Abort to cancel installation, Retry to try again, or Ignore to download via "
       L"browser."},
      {L"STR_SOFT_RUN",
       L"PRODUCT is running. Continuing installation will forcely quit the program. Are you sure "
       L"to install?"},
      {L"STR_CLOSE_TIP1", L"Are you sure you want to quit?"},
      {L"STR_CLOSE_TIP2", L"Installation is in progress. Are you sure you want to quit?"},
      {L"STR_START", L"Start\u00A0Now"},
      {L"STR_MB", L"MB"},
      // Message box buttons; the abort, retry and ignore labels are the words STR_OPERATE_TIP
      // tells the user to click.
      {L"STR_BUTTON_OK", L"OK"},
      {L"STR_BUTTON_CANCEL", L"Cancel"},
      {L"STR_BUTTON_YES", L"Yes"},
      {L"STR_BUTTON_NO", L"No"},
      {L"STR_BUTTON_ABORT", L"Abort"},
      {L"STR_BUTTON_RETRY", L"Retry"},
      {L"STR_BUTTON_IGNORE", L"Ignore"},
      {L"STR_INSTALL_FAILED", L"Installation failed. Please try again."},
      {L"STR_START_MANUALLY",
       L"PRODUCT has been installed. Please start it from your applications menu."},
  };
  return rows;
}

}  // namespace

const std::vector<std::wstring>& DefaultStringKeys() {
  static const std::vector<std::wstring> keys = [] {
    std::vector<std::wstring> k;
    for (const auto& row : DefaultRows()) k.push_back(row.first);
    return k;
  }();
  return keys;
}

const std::map<std::wstring, std::wstring>& DefaultStrings() {
  static const std::map<std::wstring, std::wstring> table(DefaultRows().begin(),
                                                          DefaultRows().end());
  return table;
}

bool IsRightToLeftLanguage(const std::wstring& language) {
  return language == L"Arabic" || language == L"Hebrew";
}
