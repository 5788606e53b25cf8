// Resources linked into the program's own image (built by CMake, see kv_embed_resource).
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// Resource types as the program names them.
inline constexpr std::string_view kResTypeRcData = "RCDATA";
inline constexpr std::string_view kResTypeIcon = "ICON";
inline constexpr std::string_view kResTypeZipRes = "ZIPRES";

// Resource ids of the program.
inline constexpr int kResIdIcon = 101;
inline constexpr int kResIdSkin = 104;
inline constexpr int kResIdLanguage = 105;
inline constexpr int kResIdDomain = 106;
inline constexpr int kResIdUrlConfig = 107;

struct ResourceBytes {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  bool found = false;
  explicit operator bool() const { return found; }
};

// The bytes of resource (type, id) of this executable; found is false when it has none.
// The bytes live as long as the process. Any thread.
ResourceBytes FindResource(std::string_view type, int id);

// Called by the generated registration code during static initialisation.
bool RegisterResource(const char* type, int id, const unsigned char* begin,
                      const unsigned char* end);

}  // namespace platform
