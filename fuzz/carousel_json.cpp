// The carousel answer of the API server: any body, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "analytics/CarouselJson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  CarouselResult result;
  std::vector<ImageInfo> images;
  if (!ParseCarouselResponse(result, images, body) && !images.empty()) std::abort();
  return 0;
}
