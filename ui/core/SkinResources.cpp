#include "ui/core/SkinResources.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Resources.h"
#include "ui/core/Utf.h"

namespace SkinUI {
namespace {

bool ReadDiskFile(const std::string& path, std::vector<unsigned char>& out) {
  out.clear();
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string Slashed(const std::wstring& name) {
  std::string s = ToUtf8(name);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

}  // namespace

CSkinResources::CSkinResources() = default;
CSkinResources::~CSkinResources() = default;

bool CSkinResources::OpenEmbedded(std::string_view type, int id) {
  platform::ResourceBytes res = platform::FindResource(type, id);
  if (!res) return false;
  return zip_.OpenMemory(res.data, res.size);
}

bool CSkinResources::OpenZipMemory(const void* data, std::size_t size) {
  return zip_.OpenMemory(data, size);
}

bool CSkinResources::OpenZipFile(const std::string& path) {
  return zip_.OpenFile(path);
}

bool CSkinResources::OpenFolder(const std::string& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return false;
  folder_ = folder;
  folderOpen_ = true;
  return true;
}

bool CSkinResources::IsOpen() const {
  return zip_.IsOpen() || folderOpen_;
}

bool CSkinResources::ReadSkinFile(const std::wstring& name, std::vector<unsigned char>& out) const {
  out.clear();
  if (zip_.IsOpen()) {
    int index = zip_.Find(std::wstring_view(name));
    return index >= 0 && zip_.Unpack(index, out);
  }
  if (folderOpen_ && name.size() < 256) {
    // Names stay inside the skin folder, as they stay inside an archive.
    std::filesystem::path rel(Slashed(name));
    if (rel.is_absolute()) return false;
    for (const auto& part : rel) {
      if (part == "..") return false;
    }
    std::filesystem::path p = std::filesystem::path(folder_) / rel;
    if (ReadDiskFile(p.string(), out)) return true;
    // Case-insensitive like the archive: look for a differently written name beside it.
    std::error_code ec;
    std::filesystem::path parent = p.parent_path();
    std::string want = p.filename().string();
    for (auto& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Stepped with an error code: a folder that goes away must not throw out of here.
    std::filesystem::directory_iterator it(parent, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::string have = it->path().filename().string();
      for (auto& c : have) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (have == want) return ReadDiskFile(it->path().string(), out);
    }
  }
  return false;
}

bool CSkinResources::ReadImage(const std::wstring& name, std::vector<unsigned char>& out) const {
  if (name.empty()) return false;
  if (ReadSkinFile(name, out)) return true;
  return ReadDiskFile(ToUtf8(name), out);
}

}  // namespace SkinUI
