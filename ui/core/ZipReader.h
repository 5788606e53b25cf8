// Read-only access to a zip archive held in memory (the skin and language packages).
// One reader per thread at a time; different readers may be used on different threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace SkinUI {

class CZipReader {
 public:
  CZipReader();
  ~CZipReader();
  CZipReader(const CZipReader&) = delete;
  CZipReader& operator=(const CZipReader&) = delete;

  // Copies the bytes; the caller's buffer may go away afterwards. False on a bad archive.
  bool OpenMemory(const void* data, std::size_t size);
  // Reads the whole file into memory and opens it from there.
  bool OpenFile(const std::string& path);
  void Close();
  bool IsOpen() const { return archive_ != nullptr; }

  int GetEntryCount() const;
  // Entry name as stored (8-bit); empty for a bad index.
  std::string GetEntryName(int index) const;
  // Unpacked size; 0 for a bad index.
  std::size_t GetEntrySize(int index) const;
  bool IsDirectory(int index) const;
  // Unpacks one entry; false (out emptied) when it cannot be read, fails its CRC or claims
  // more than 256 MiB.
  bool Unpack(int index, std::vector<unsigned char>& out) const;

  // The skin's look-up rule: "\" is "/", letter case is ignored, names of 256 characters
  // or more are never found. -1 when absent.
  int Find(std::string_view name) const;
  int Find(std::wstring_view name) const;

 private:
  std::vector<unsigned char> bytes_;
  ::zip* archive_ = nullptr;
};

}  // namespace SkinUI
