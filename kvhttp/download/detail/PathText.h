// Wide paths of the engine as the bytes the file system takes. File names here are UTF-8.
#pragma once

#include <string>

namespace kvhttp::detail {

std::string PathToNative(const std::wstring& path);
std::wstring NativeToPath(const std::string& path);

}  // namespace kvhttp::detail
