// The few window messages the program exchanges, with the values callers know them by.
#pragma once

#include <cstdint>

namespace SkinUI {

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr WPARAM SC_MINIMIZE = 0xF020;
inline constexpr WPARAM SC_MAXIMIZE = 0xF030;
inline constexpr WPARAM SC_RESTORE = 0xF120;
inline constexpr WPARAM SC_CLOSE = 0xF060;

// How a window finds its skin package.
enum UILIB_RESOURCETYPE {
  UILIB_FILE = 1,         // a folder: resource path + skin folder
  UILIB_ZIP = 2,          // a zip file: resource path + zip file name
  UILIB_RESOURCE = 3,     // treated as UILIB_ZIPRESOURCE here
  UILIB_ZIPRESOURCE = 4,  // a zip archive embedded as a "ZIPRES" resource
};

}  // namespace SkinUI
