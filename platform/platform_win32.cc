// The platform layer on Windows: the program's directory, "\" as separator, the wait window and
// the message box of a fatal error. Inside the program every name is UTF-8; files_win32.cc opens
// files by their UTF-16 names, and the command line is read as UTF-16 and handed on as UTF-8.
#include "platform/text_win32.h"
// The Windows API first: shellapi.h needs its types.
#include <shellapi.h>
// The C runtime's descriptors and handles.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace compactor {

namespace {

constexpr wchar_t kTitle[] = L"compactor";
constexpr wchar_t kWaitClass[] = L"compactor.Form1";

// The wait window: its client area and its one label, in pixels.
constexpr int kClientWidth = 280;
constexpr int kClientHeight = 179;
constexpr int kLabelLeft = 64;
constexpr int kLabelTop = 64;
constexpr int kLabelWidth = 177;
constexpr int kLabelHeight = 53;
constexpr int kLabelPoints = 24;

HWND g_wait = nullptr;
HFONT g_wait_font = nullptr;

// Handles what is waiting for the program's windows: the painting and showing of the wait
// window. The run itself processes no messages.
void pump_messages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK wait_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  // The window goes away when the run ends, not before.
  if (msg == WM_CLOSE) return 0;
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

bool register_wait_class(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = wait_window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kWaitClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool usable(HANDLE h) {
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

bool file_or_pipe(HANDLE h) {
  if (!usable(h)) return false;
  DWORD type = GetFileType(h);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

// Once attached to a console: a standard handle that is not that console (a file, a pipe, NUL).
bool stays(HANDLE h) {
  if (file_or_pipe(h)) return true;
  DWORD mode = 0;
  return usable(h) && GetFileType(h) == FILE_TYPE_CHAR && !GetConsoleMode(h, &mode);
}

// Points a standard stream of a GUI program, which the C runtime opened on no handle, at the
// console it has attached to. freopen does it with Windows' runtime; Wine's refuses to reopen a
// stream that has no descriptor, so there the stream takes over a new one on the console.
void write_to_console(FILE* stream) {
  std::fflush(stream);
  if (std::freopen("CONOUT$", "w", stream) != nullptr) return;
  HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(console), _O_TEXT);
  if (fd < 0) {
    CloseHandle(console);
    return;
  }
  FILE* opened = _fdopen(fd, "w");
  if (opened == nullptr) {
    _close(fd);
    return;
  }
  *stream = *opened;  // msvcrt's FILE is a plain structure; `opened` is not used again
  std::setvbuf(stream, nullptr, _IONBF, 0);
}

}  // namespace

std::string program_directory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return ".";
    path.resize(path.size() * 2);
  }
  size_t sep = path.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return ".";
  std::wstring dir = path.substr(0, sep);
  // "C:" alone names the current directory of drive C, not its root.
  if (dir.size() == 2 && dir[1] == L':') dir += L'\\';
  return to_utf8(dir);
}

char path_separator() {
  return '\\';
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) return dir + name;
  return dir + path_separator() + name;
}

// The path's own rules, on its UTF-16 form: a narrow std::filesystem::path would read the UTF-8
// name in the ANSI code page.
std::string parent_directory(const std::string& path) {
  const std::wstring parent = std::filesystem::path(to_wide(path)).parent_path().native();
  return parent.empty() ? "." : to_utf8(parent);
}

std::string last_part(const std::string& path) {
  return to_utf8(std::filesystem::path(to_wide(path)).filename().native());
}

bool stderr_takes_color() {
  HANDLE err = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
  DWORD mode = 0;
  if (err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool standard_output_present() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

void begin_wait(bool quiet) {
  if (quiet || g_wait != nullptr) return;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!register_wait_class(instance)) return;

  const DWORD style = WS_OVERLAPPED | WS_CAPTION;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - width) / 2;
  const int y = work.top + ((work.bottom - work.top) - height) / 2;

  // Without a desktop (no display) the run goes on without the window.
  HWND window = CreateWindowExW(0, kWaitClass, kTitle, style, x, y, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return;

  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  g_wait_font = CreateFontW(-MulDiv(kLabelPoints, dpi, 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  HWND label =
      CreateWindowExW(0, L"STATIC", L"Attendere", WS_CHILD | WS_VISIBLE | SS_LEFT, kLabelLeft,
                      kLabelTop, kLabelWidth, kLabelHeight, window, nullptr, instance, nullptr);
  if (label != nullptr && g_wait_font != nullptr) {
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(g_wait_font), FALSE);
  }
  g_wait = window;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  pump_messages();
}

void end_wait() {
  if (g_wait == nullptr) return;
  DestroyWindow(g_wait);
  g_wait = nullptr;
  pump_messages();
  if (g_wait_font != nullptr) DeleteObject(g_wait_font);
  g_wait_font = nullptr;
}

void show_fatal_message(const std::string& text) {
  // From a console the text goes to stderr as well; the desktop program has none.
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  MessageBoxW(g_wait, to_wide(text).c_str(), kTitle, MB_OK | MB_SETFOREGROUND);
  end_wait();
}

// The program's arguments, without the program's name, as UTF-8.
std::vector<std::string> command_line_arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(to_utf8(argv[i]));
  LocalFree(argv);
  return args;
}

// A program of the GUI subsystem gets no console. Started with arguments from one, it writes to
// that console; output sent to a file, a pipe or NUL stays where it was sent.
void attach_parent_console() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (file_or_pipe(out) && file_or_pipe(err)) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!stays(out)) write_to_console(stdout);
  if (!stays(err)) write_to_console(stderr);
}

}  // namespace compactor
