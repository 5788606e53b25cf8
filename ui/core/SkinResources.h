// Where the skin's files and images come from: the embedded archive, a zip file or a folder.
// UI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/core/ZipReader.h"

namespace SkinUI {

class CSkinResources {
 public:
  CSkinResources();
  ~CSkinResources();

  // The resource (type, id) of this executable, copied into a buffer of our own.
  bool OpenEmbedded(std::string_view type, int id);
  bool OpenZipMemory(const void* data, std::size_t size);
  bool OpenZipFile(const std::string& path);
  // Files are read from below this folder.
  bool OpenFolder(const std::string& folder);
  bool IsOpen() const;

  // A skin file from the package only.
  bool ReadSkinFile(const std::wstring& name, std::vector<unsigned char>& out) const;
  // An image: the package first, then the name itself as a path on disk.
  bool ReadImage(const std::wstring& name, std::vector<unsigned char>& out) const;

 private:
  CZipReader zip_;
  std::string folder_;
  bool folderOpen_ = false;
};

}  // namespace SkinUI
