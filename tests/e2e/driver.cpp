#include "tests/e2e/driver.h"

#include <cstring>

namespace e2e {

Program::Program(const std::string& path, const std::string& arguments) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  Start(path, arguments, startup, false, 0);
}

Program::Program(const std::string& path, const std::string& arguments, const std::string& output,
                 const std::string& errors, DWORD flags) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const auto create = [&](const std::string& file) {
    return CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  };
  const HANDLE out = create(output);
  const HANDLE err = errors.empty() ? out : create(errors);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = err;
  Start(path, arguments, startup, true, flags);
  // The program holds its own copies.
  if (err != out && err != INVALID_HANDLE_VALUE) CloseHandle(err);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
}

void Program::Start(const std::string& path, const std::string& arguments, STARTUPINFOA& startup, bool inherit,
                    DWORD flags) {
  std::string command = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
  if (!CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, inherit ? TRUE : FALSE, flags, nullptr, nullptr,
                      &startup, &process_)) {
    process_ = PROCESS_INFORMATION{};
  }
}

Program::~Program() {
  if (process_.hProcess == nullptr) return;
  if (Running()) {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

DWORD Program::Wait(DWORD milliseconds) {
  if (process_.hProcess == nullptr || WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) {
    return STILL_ACTIVE;
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

bool Program::Running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

namespace {

struct DialogQuery {
  const char* title;
  int controlId;
  DWORD process;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  auto* query = reinterpret_cast<DialogQuery*>(parameter);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  if (query->process != 0 && owner != query->process) return TRUE;
  if (WindowText(window) != query->title) return TRUE;
  if (query->controlId != 0 && GetDlgItem(window, query->controlId) == nullptr) return TRUE;
  query->found = window;
  return FALSE;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
  return text;
}

// Across processes the W messages are the safe ones: the A forms write
// UTF-16 into the caller's buffer under Wine.
LRESULT SendW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) return -1;
  return static_cast<LRESULT>(result);
}

}  // namespace

HWND WaitForDialog(const char* title, int controlId, DWORD process, DWORD milliseconds) {
  DialogQuery query{title, controlId, process, nullptr};
  WaitUntil([&] {
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&query));
    return query.found != nullptr;
  }, milliseconds);
  return query.found;
}

std::string WindowText(HWND window) {
  const LRESULT length = SendW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = SendW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return Narrow(text);
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> lines;
  const LRESULT count = SendW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) break;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    lines.push_back(Narrow(text));
  }
  return lines;
}

bool ItemVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ClickStatic(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressEscape(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  HWND target = window;
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr) target = info.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}

std::string AnswerMessageBox(HWND box, int button) {
  const std::string text = ItemText(box, 0xFFFF);
  PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
  return text;
}

bool SaveScreenshot(HWND window, const std::string& path) {
  // Let the window finish painting: a freshly shown dialog may not have yet.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
  Sleep(300);
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap != nullptr) {
    const HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    GdiFlush();
    const DWORD rowBytes = static_cast<DWORD>((width * 3 + 3) & ~3);
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageBytes;
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ok = ok && out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, nullptr) &&
         WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
         WriteFile(out, bits, imageBytes, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace e2e
