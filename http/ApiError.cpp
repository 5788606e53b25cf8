#include "http/ApiError.h"

#include <unistd.h>

#include "log/Log.h"

void ShowApiError(const char* apiName, std::uint32_t errorCode, MessageTable module,
                  const char* context) {
  const std::string text = module ? module(errorCode) : std::string();
  const int thread = static_cast<int>(gettid());
  const char* api = apiName ? apiName : "";
  if (context) {
    LOGA(LogLevelInfo, "[Thread][%d] [%s]call %s fail %d, %s\n", thread, context, api,
         static_cast<int>(errorCode), text.c_str());
  } else {
    LOGA(LogLevelInfo, "[Thread][%d] call %s fail %d, %s\n", thread, api,
         static_cast<int>(errorCode), text.c_str());
  }
}
