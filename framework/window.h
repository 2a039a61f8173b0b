// The dialog framework's window base: a C++ object attached to a window
// handle, and the message map that routes messages to its handlers.
//
//   CWindow          a window handle with its object, and one-line operations
//   MessageMapEntry  one row of a message map: message (or command id) -> handler
//   MessageMap       a class's table of rows
//
// Handlers are member functions LRESULT OnXxx(WPARAM, LPARAM) of the class
// whose map names them.
#pragma once

#include <windows.h>

#include <cstddef>

class CWindow;
using MessageHandler = LRESULT (CWindow::*)(WPARAM, LPARAM);

// Notifications a child control sends its parent are reflected to the
// child's own object: the child's map names them as ReflectedMessage or
// ReflectedCommand rows.
enum class MessageKind {
  Message,           // code: the window message
  Command,           // code: the command or control id of WM_COMMAND
  ReflectedMessage,  // code: the parent's message, e.g. WM_CTLCOLORSTATIC
  ReflectedCommand,  // code: the notification code of WM_COMMAND, e.g. STN_CLICKED
};

struct MessageMapEntry {
  MessageKind kind;
  UINT code;
  MessageHandler handler;
};

struct MessageMap {
  const MessageMapEntry* entries;
  size_t count;
  const MessageMapEntry* Find(MessageKind kind, UINT code) const;
};

template <class T>
MessageMapEntry OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageKind::Message, message, static_cast<MessageHandler>(handler)};
}
template <class T>
MessageMapEntry OnCommand(UINT id, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageKind::Command, id, static_cast<MessageHandler>(handler)};
}
template <class T>
MessageMapEntry OnReflectedMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageKind::ReflectedMessage, message, static_cast<MessageHandler>(handler)};
}
template <class T>
MessageMapEntry OnReflectedCommand(UINT notification, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageKind::ReflectedCommand, notification, static_cast<MessageHandler>(handler)};
}

// A map over a static array of rows: return MakeMessageMap(rows) from GetMessageMap().
template <size_t N>
MessageMap MakeMessageMap(const MessageMapEntry (&entries)[N]) {
  return {entries, N};
}

class CWindow {
 public:
  CWindow() = default;
  virtual ~CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;

  HWND GetSafeHwnd() const { return window_; }

  // -- Operations: one line each around the Win32 call -----------------------
  void SetWindowText(const char* text) const { ::SetWindowTextA(window_, text); }
  void ShowWindow(int show) const { ::ShowWindow(window_, show); }
  void Invalidate() const { ::InvalidateRect(window_, nullptr, TRUE); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(window_, id); }
  void SetDlgItemText(int id, const char* text) const { ::SetDlgItemTextA(window_, id, text); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(window_, message, wParam, lParam);
  }

  // The object attached to a window of this framework, or null.
  static CWindow* FromHandle(HWND window);

  // Runs the handler that this object's map gives for the message, if any.
  bool Dispatch(MessageKind kind, UINT code, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  // -- Overridables ----------------------------------------------------------
  virtual MessageMap GetMessageMap() const { return {nullptr, 0}; }

  // -- Implementation --------------------------------------------------------
  void Attach(HWND window);
  void Detach();
  // Offers WM_COMMAND and WM_CTLCOLOR* from a child control to the child's
  // object. Returns true when the child handled it.
  static bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  HWND window_ = nullptr;
};
