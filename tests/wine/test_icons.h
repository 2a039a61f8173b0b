// The size of an icon, for the Windows tests.
#pragma once

#include <windows.h>

// Width in pixels of icon; 0 when there is none or it cannot be read (Wine
// reads the icons of its own process only).
inline int IconWidth(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return 0;
  BITMAP bitmap{};
  const int width = GetObjectA(info.hbmMask, sizeof bitmap, &bitmap) == sizeof bitmap ? bitmap.bmWidth : 0;
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return width;
}
