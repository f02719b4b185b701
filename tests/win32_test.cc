// The Windows platform layer: the wait window, the program directory and the file operations
// with names outside ASCII. Built only for Windows; the POSIX layer has its own tests.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/temporaries.h"
#include "tests/test_support.h"

namespace compactor {
namespace {

namespace fs = std::filesystem;

std::vector<HWND> visible_windows_of_this_thread() {
  std::vector<HWND> found;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM out) -> BOOL {
        if (IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::wstring text_of(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

// Windows need a desktop; under Wine without a display there is none.
bool desktop_available() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

TEST(WaitWindow, AttendereLabelInA280By179ClientArea) {
  if (!desktop_available()) GTEST_SKIP() << "no desktop to show windows on";
  ASSERT_TRUE(visible_windows_of_this_thread().empty());
  begin_wait(false);
  std::vector<HWND> shown = visible_windows_of_this_thread();
  ASSERT_EQ(shown.size(), 1u);
  HWND window = shown[0];
  EXPECT_EQ(text_of(window), L"compactor");

  RECT client;
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right - client.left, 280);
  EXPECT_EQ(client.bottom - client.top, 179);

  HWND label = GetWindow(window, GW_CHILD);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(GetWindow(label, GW_HWNDNEXT), nullptr) << "the label is the only control";
  EXPECT_EQ(text_of(label), L"Attendere");
  EXPECT_TRUE(IsWindowVisible(label));
  RECT box;
  ASSERT_TRUE(GetWindowRect(label, &box));
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
  EXPECT_EQ(box.left, 64);
  EXPECT_EQ(box.top, 64);
  EXPECT_EQ(box.right - box.left, 177);
  EXPECT_EQ(box.bottom - box.top, 53);

  HFONT font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTW lf;
  ASSERT_EQ(GetObjectW(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(lf.lfHeight, -MulDiv(24, dpi, 72)) << "24 points";
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_STREQ(lf.lfFaceName, L"MS Sans Serif");

  end_wait();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsWindow(label));
  EXPECT_TRUE(visible_windows_of_this_thread().empty());
}

TEST(WaitWindow, QuietShowsNothing) {
  begin_wait(true);
  EXPECT_TRUE(visible_windows_of_this_thread().empty());
  end_wait();
}

TEST(Win32Paths, ProgramDirectoryHoldsThisProgram) {
  const std::string dir = program_directory();
  ASSERT_GE(dir.size(), 3u);
  EXPECT_EQ(dir.substr(1, 2), ":\\") << dir;
  EXPECT_NE(dir.back(), '\\') << dir;
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const fs::path expected = fs::path(self).parent_path();
  EXPECT_TRUE(fs::equivalent(fs::path(std::u8string(dir.begin(), dir.end())), expected)) << dir;
}

TEST(Win32Paths, JoinWithBackslash) {
  EXPECT_EQ(path_separator(), '\\');
  EXPECT_EQ(join_path("C:\\scenari", "QUELDRANO 2_linea.txt"),
            "C:\\scenari\\QUELDRANO 2_linea.txt");
  EXPECT_EQ(join_path("C:\\", "a.sim"), "C:\\a.sim");
  EXPECT_EQ(join_path("D:/scenari/", "a.sim"), "D:/scenari/a.sim");
}

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::is_directory(base_));
    const std::u8string u8 = base_.u8string();
    dir_.assign(u8.begin(), u8.end());
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(base_)) {
      const std::u8string u8 = entry.path().filename().u8string();
      found.emplace_back(u8.begin(), u8.end());
    }
    return found;
  }
  // A directory whose name is not ASCII, so every name goes through the UTF-8 conversion.
  test::ScratchDir scratch_{u8"compactor_città_"};
  const fs::path base_ = scratch_.path();
  std::string dir_;  // base_ as UTF-8, the way the program holds names
};

// CR LF, a lone LF, NUL and Ctrl-Z (the end of a file in text mode) must all pass untouched.
constexpr char kAwkwardBytes[] = "riga\r\nsola\n\0\x1a fine\xff";
const std::string kAwkward(kAwkwardBytes, sizeof kAwkwardBytes - 1);

TEST_F(Win32Files, ReplaceCreatesAndReadBackGivesTheSameBytes) {
  const std::string path = join_path(dir_, "QUELDRANO 2_555.sim");
  FileResult w = replace_file(path, kAwkward);
  ASSERT_TRUE(w.ok) << w.reason;
  EXPECT_EQ(test::read_bytes(base_ / "QUELDRANO 2_555.sim"), kAwkward);
  EXPECT_TRUE(file_exists(path));
  FileResult r;
  std::optional<std::string> back = read_file(path, r);
  ASSERT_TRUE(back.has_value()) << r.reason;
  EXPECT_EQ(*back, kAwkward);
  EXPECT_EQ(names(), std::vector<std::string>{"QUELDRANO 2_555.sim"});
}

TEST_F(Win32Files, ReplaceOverALongerFileLeavesOnlyTheNewBytes) {
  const std::string path = join_path(dir_, "out.dat");
  test::write_bytes(base_ / "out.dat", std::string(70000, 'x'));
  FileResult w = replace_file(path, "abc");
  ASSERT_TRUE(w.ok) << w.reason;
  EXPECT_EQ(test::read_bytes(base_ / "out.dat"), "abc");
  EXPECT_EQ(names(), std::vector<std::string>{"out.dat"});
}

TEST_F(Win32Files, PiecesArriveInOrder) {
  const std::string path = join_path(dir_, "QUELDRANO 2_linea.dat");
  FileResult w = replace_file_in_pieces(path, [](const PieceWriter& write) {
    EXPECT_TRUE(write("ab", 2));
    EXPECT_TRUE(write("", 0));
    EXPECT_TRUE(write(kAwkward.data(), kAwkward.size()));
  });
  ASSERT_TRUE(w.ok) << w.reason;
  EXPECT_EQ(test::read_bytes(base_ / "QUELDRANO 2_linea.dat"), "ab" + kAwkward);
  EXPECT_EQ(names(), std::vector<std::string>{"QUELDRANO 2_linea.dat"});
}

TEST_F(Win32Files, AProducerThatThrowsLeavesTheOldFileAndNoTemporary) {
  const std::string path = join_path(dir_, "out.dat");
  test::write_bytes(base_ / "out.dat", "old");
  EXPECT_THROW(replace_file_in_pieces(path,
                                      [](const PieceWriter& write) {
                                        write("half", 4);
                                        throw std::bad_alloc();
                                      }),
               std::bad_alloc);
  EXPECT_EQ(test::read_bytes(base_ / "out.dat"), "old");
  EXPECT_EQ(names(), std::vector<std::string>{"out.dat"});
}

// As when the simulator has the file open: the rename fails, the old file stays whole.
TEST_F(Win32Files, FailedReplaceOfAnOpenFileKeepsItAndLeavesNoTemporary) {
  const std::string path = join_path(dir_, "out.dat");
  test::write_bytes(base_ / "out.dat", "old");
  HANDLE held = CreateFileW((base_ / "out.dat").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  FileResult w = replace_file(path, "new content");
  CloseHandle(held);
  EXPECT_FALSE(w.ok);
  EXPECT_FALSE(w.reason.empty());
  EXPECT_NE(w.reason.back(), '\n');
  EXPECT_NE(w.reason.back(), '.');
  EXPECT_EQ(test::read_bytes(base_ / "out.dat"), "old");
  EXPECT_EQ(names(), std::vector<std::string>{"out.dat"});
}

TEST_F(Win32Files, FailedReplaceOfADirectoryLeavesNoTemporary) {
  fs::create_directory(base_ / "out.dat");
  test::write_bytes(base_ / "out.dat" / "inside", "kept");
  FileResult w = replace_file(join_path(dir_, "out.dat"), "new");
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(test::read_bytes(base_ / "out.dat" / "inside"), "kept");
  EXPECT_EQ(names(), std::vector<std::string>{"out.dat"});
}

TEST_F(Win32Files, ReplaceInAMissingDirectoryFails) {
  FileResult w = replace_file(join_path(join_path(dir_, "missing"), "out.dat"), "new");
  EXPECT_FALSE(w.ok);
  EXPECT_TRUE(names().empty());
}

TEST_F(Win32Files, ReadRefusesWhatIsNotARegularFileOrTooLarge) {
  FileResult r;
  EXPECT_FALSE(read_file(join_path(dir_, "missing.txt"), r).has_value());
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.reason.empty());
  EXPECT_FALSE(file_exists(join_path(dir_, "missing.txt")));

  fs::create_directory(base_ / "sub");
  EXPECT_FALSE(file_exists(join_path(dir_, "sub")));
  EXPECT_FALSE(read_file(join_path(dir_, "sub"), r).has_value());
  EXPECT_EQ(r.reason, "Is a directory");
  EXPECT_FALSE(r.missing);

  EXPECT_FALSE(read_file("NUL", r).has_value());
  EXPECT_EQ(r.reason, "Is a character device, not a regular file");

  test::write_bytes(base_ / "big.txt", std::string((1 << 20) + 1, 'x'));
  EXPECT_FALSE(read_file(join_path(dir_, "big.txt"), r, 1 << 20).has_value());
  EXPECT_EQ(r.reason, "larger than 1 MiB");
  std::optional<std::string> exact = read_file(join_path(dir_, "big.txt"), r, (1 << 20) + 1);
  ASSERT_TRUE(exact.has_value()) << r.reason;
  EXPECT_EQ(exact->size(), (1u << 20) + 1);
}

// A file read in pieces (the line output, by decompile): each piece from the offset it names; a
// file cut short since the open fails the read that finds it so and is no longer unchanged.
TEST_F(Win32Files, ReadInPiecesFromAnyOffsetAndToldWhenCutShort) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(i * 13 % 256));
  test::write_bytes(base_ / "a_linea.dat", bytes);
  FileReader reader;
  FileResult r;
  ASSERT_TRUE(reader.open(join_path(dir_, "a_linea.dat"), r)) << r.reason;
  EXPECT_EQ(reader.size(), bytes.size());
  std::string piece(1000, '\0');
  for (uint64_t offset : {150000u, 0u, 199000u}) {
    ASSERT_TRUE(reader.read_at(offset, piece.data(), piece.size(), r)) << r.reason;
    EXPECT_EQ(piece, bytes.substr(offset, piece.size()));
  }
  EXPECT_TRUE(reader.unchanged(r)) << r.reason;
  fs::resize_file(base_ / "a_linea.dat", 100000);
  EXPECT_FALSE(reader.read_at(150000, piece.data(), piece.size(), r));
  EXPECT_EQ(r.reason, "it changed while it was read");
  EXPECT_FALSE(reader.unchanged(r));

  FileReader other;
  EXPECT_FALSE(other.open(join_path(dir_, "missing.dat"), r));
  EXPECT_TRUE(r.missing);
  EXPECT_FALSE(other.open("NUL", r));
  EXPECT_EQ(r.reason, "Is a character device, not a regular file");
}

TEST_F(Win32Files, DeleteRemovesAndReportsAMissingFile) {
  const std::string path = join_path(dir_, "QUELDRANO 2_linea.txt");
  ASSERT_TRUE(replace_file(path, "x").ok);
  EXPECT_TRUE(delete_file(path).ok);
  EXPECT_FALSE(fs::exists(base_ / "QUELDRANO 2_linea.txt"));
  FileResult again = delete_file(path);
  EXPECT_FALSE(again.ok);
  EXPECT_FALSE(again.reason.empty());
}

TEST_F(Win32Files, MissingIsTold) {
  FileResult r;
  EXPECT_FALSE(read_file(join_path(dir_, "missing.txt"), r).has_value());
  EXPECT_TRUE(r.missing);
  EXPECT_FALSE(read_file(join_path(join_path(dir_, "missing"), "a.txt"), r).has_value());
  EXPECT_TRUE(r.missing);
}

// A folder whose name is not ASCII, given as the program holds names (UTF-8), is found as a folder
// and a file in it as a file: the names are looked up by their UTF-16 form. Read in the ANSI code
// page, as a narrow std::filesystem::path reads them, the folder was taken for missing.
TEST_F(Win32Files, LookUpFindsFoldersAndFilesByTheirUtf8Names) {
  fs::create_directories(base_ / u8"Linee" / u8"Città");
  test::write_bytes(base_ / u8"Linee" / u8"Città" / u8"x.sim", "12345");
  const std::string folder = join_path(join_path(dir_, "Linee"), "Città");
  const std::string file = join_path(folder, "x.sim");
  struct Case {
    std::string path;
    NameKind kind;
  };
  const std::vector<Case> cases = {
      {folder, NameKind::kDirectory},
      {dir_ + "/Linee/Città/", NameKind::kDirectory},
      {file, NameKind::kFile},
      {join_path(folder, "assente"), NameKind::kMissing},
      {join_path(file, "y.sim"), NameKind::kMissing},
      {file + "/", NameKind::kMissing},  // a file's name as a directory's, as `afile/`
      {join_path(join_path(dir_, "Linee"), "Citta"), NameKind::kMissing},
      {"NUL", NameKind::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(look_up_name(c.path, Links::kFollow).kind, c.kind);
    EXPECT_EQ(look_up_name(c.path, Links::kOwn).kind, c.kind);
  }
  const NameFacts found = look_up_name(file, Links::kFollow);
  EXPECT_EQ(found.identity.size, 5u);
  FileResult r;
  FileIdentity read;
  ASSERT_TRUE(read_file(file, r, kMaxSourceBytes, &read).has_value()) << r.reason;
  EXPECT_EQ(found.identity, read);
  const FileIdentity by_slashes = look_up_name(dir_ + "/Linee/Città", Links::kFollow).identity;
  const FileIdentity by_backslashes = look_up_name(folder, Links::kFollow).identity;
  EXPECT_EQ(by_slashes.file_number, by_backslashes.file_number);
  EXPECT_EQ(by_slashes.device, by_backslashes.device);
}

// The directory and the name of a path by the string alone, with Windows' separators and drives.
TEST(Win32Paths, DirectoryAndLastPartFromTheStringAlone) {
  struct Case {
    const char* path;
    const char* directory;
    const char* last;
  };
  const Case cases[] = {
      {"D:\\Linee\\Città\\x.sim", "D:\\Linee\\Città", "x.sim"},
      {"Linee/Città", "Linee", "Città"},
      {"Città", ".", "Città"},
      {"D:\\x.sim", "D:\\", "x.sim"},
      {"D:x.sim", "D:", "x.sim"},
      {"\\\\server\\scenari\\Città.sim", "\\\\server\\scenari", "Città.sim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(parent_directory(c.path), c.directory);
    EXPECT_EQ(last_part(c.path), c.last);
  }
}

// The outputs as one set, as on POSIX systems: a name taken by a directory is found before
// anything is renamed, and a set not put in place leaves no temporary file.
TEST_F(Win32Files, StagedFilesGoInPlaceTogetherOrNotAtAll) {
  const std::string a = join_path(dir_, "a.sim"), b = join_path(dir_, "b.dat");
  test::write_bytes(base_ / "a.sim", "old");
  fs::create_directory(base_ / "b.dat");
  {
    StagedFiles staged;
    ASSERT_TRUE(staged.add(a, "new").ok);
    ASSERT_TRUE(staged.add(b, "new").ok);
    EXPECT_EQ(names().size(), 4u);
    std::string failed;
    EXPECT_FALSE(staged.commit(failed).ok);
    EXPECT_EQ(failed, b);
  }
  EXPECT_EQ(test::read_bytes(base_ / "a.sim"), "old");
  EXPECT_EQ(names().size(), 2u);
  fs::remove(base_ / "b.dat");
  StagedFiles staged;
  ASSERT_TRUE(staged.add(a, "new a").ok);
  ASSERT_TRUE(staged.add(b, "new b").ok);
  std::string failed;
  ASSERT_TRUE(staged.commit(failed).ok);
  EXPECT_EQ(test::read_bytes(base_ / "a.sim"), "new a");
  EXPECT_EQ(test::read_bytes(base_ / "b.dat"), "new b");
  EXPECT_EQ(names().size(), 2u);
}

// The directory lock is a lock file opened without sharing: a second exclusive holder (or a
// shared one beside an exclusive one) is refused, shared holders go together, and the file goes
// with its last holder.
TEST_F(Win32Files, DirectoryLockSharesAsItsModeSays) {
  {
    DirectoryLock first, second;
    ASSERT_EQ(first.try_take(dir_, LockMode::kExclusive), LockOutcome::kTaken);
    EXPECT_EQ(second.try_take(dir_, LockMode::kExclusive), LockOutcome::kBusy);
    EXPECT_EQ(second.try_take(dir_, LockMode::kShared), LockOutcome::kBusy);
  }
  EXPECT_TRUE(names().empty()) << names().front();
  {
    DirectoryLock first, second, third;
    ASSERT_EQ(first.try_take(dir_, LockMode::kShared), LockOutcome::kTaken);
    EXPECT_EQ(second.try_take(dir_, LockMode::kShared), LockOutcome::kTaken);
    EXPECT_EQ(third.try_take(dir_, LockMode::kExclusive), LockOutcome::kBusy);
  }
  EXPECT_TRUE(names().empty()) << names().front();
  DirectoryLock nowhere;
  EXPECT_EQ(nowhere.try_take(join_path(dir_, "missing"), LockMode::kExclusive),
            LockOutcome::kUnavailable);
}

// A source is deleted only while it is the file that was read; one already gone is no error.
TEST_F(Win32Files, DeletesOnlyAnUnchangedFile) {
  const std::string path = join_path(dir_, "QUELDRANO 2_555-.txt");
  auto read_identity = [&] {
    test::write_bytes(base_ / "QUELDRANO 2_555-.txt", "read me");
    FileResult r;
    FileIdentity identity;
    EXPECT_TRUE(read_file(path, r, kMaxSourceBytes, &identity).has_value());
    return identity;
  };
  FileResult r;
  FileIdentity identity = read_identity();
  test::write_bytes(base_ / "QUELDRANO 2_555-.txt", "read me, saved again");
  EXPECT_EQ(delete_file_if_unchanged(path, identity, r), DeleteOutcome::kChanged);
  EXPECT_TRUE(fs::exists(base_ / "QUELDRANO 2_555-.txt"));
  identity = read_identity();
  EXPECT_EQ(delete_file_if_unchanged(path, identity, r), DeleteOutcome::kDeleted);
  EXPECT_FALSE(fs::exists(base_ / "QUELDRANO 2_555-.txt"));
  EXPECT_EQ(delete_file_if_unchanged(path, identity, r), DeleteOutcome::kAlreadyGone);
}

// A rewrite in place that keeps the size and sets the old modification time back changes the
// file's change time: the file is no longer the one that was read.
TEST_F(Win32Files, ARewriteWithItsOldTimeSetBackIsNoLongerTheFileRead) {
  const std::string path = join_path(dir_, "QUELDRANO 2_555-.txt");
  test::write_bytes(base_ / "QUELDRANO 2_555-.txt", "read me");
  FileResult r;
  FileIdentity identity;
  ASSERT_TRUE(read_file(path, r, kMaxSourceBytes, &identity).has_value());
  EXPECT_NE(identity.changed, 0);
  Sleep(20);
  // Through the handle: the standard library's file times here are whole seconds.
  HANDLE h = CreateFileW((base_ / "QUELDRANO 2_555-.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME written;
  DWORD n = 0;
  EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  EXPECT_TRUE(WriteFile(h, "READ ME", 7, &n, nullptr));
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
  CloseHandle(h);
  EXPECT_EQ(delete_file_if_unchanged(path, identity, r), DeleteOutcome::kChanged);
  EXPECT_EQ(test::read_bytes(base_ / "QUELDRANO 2_555-.txt"), "READ ME");
}

// The longest name NTFS takes is 255 UTF-16 units: a legal name that the temporary suffix would
// make longer is shortened in its temporary name, counted in those units and cut between whole
// characters; a name that fits with the suffix keeps its whole name.
TEST_F(Win32Files, LongNamesAreShortenedInUtf16Units) {
  const std::string name = std::string(250, 'n') + ".svg";
  ASSERT_TRUE(replace_file(join_path(dir_, name), "x").ok);
  EXPECT_EQ(names(), std::vector<std::string>{name});

  auto repeat = [](const std::string& character, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += character;
    return text;
  };
  const std::string a_grave = "\xc3\xa0", locomotive = "\xf0\x9f\x9a\x82";  // 1 and 2 units
  struct Case {
    std::string name;
    std::string kept;  // of the name, in a temporary name of process 12345 (a 17-unit suffix)
  };
  const Case cases[] = {
      {repeat(a_grave, 200) + ".svg", repeat(a_grave, 200) + ".svg"},  // 400 bytes, 204 units
      {repeat(a_grave, 250) + ".svg", repeat(a_grave, 238)},
      {repeat(locomotive, 120) + ".svg", repeat(locomotive, 119)},     // 244 units
      {"n" + repeat(locomotive, 120), "n" + repeat(locomotive, 118)},  // no half of one
  };
  for (const Case& c : cases) {
    const std::string temp = temporary_name("C:\\scenari/" + c.name, 12345, 0);
    SCOPED_TRACE(temp);
    ASSERT_EQ(temp.size(), 11 + c.kept.size() + 17);
    EXPECT_EQ(temp.substr(0, 11 + c.kept.size()), "C:\\scenari/" + c.kept);
    EXPECT_EQ(temp.substr(11 + c.kept.size(), 11), ".tmp-12345-");
    int64_t pid = 0;
    EXPECT_TRUE(is_temporary_of(temp.substr(11), c.name, pid));
    EXPECT_EQ(pid, 12345);
  }
}

// Temporary files of a process that no longer runs are removed, and only those of the names
// given.
TEST_F(Win32Files, RemovesOnlyTheTemporaryFilesOfEndedProcesses) {
  EXPECT_TRUE(process_is_running(GetCurrentProcessId()));
  EXPECT_FALSE(process_is_running(4294967280));  // no process has this id
  const std::string ended = "a.sim.tmp-4294967280-abc123";
  const std::string other = "b.sim.tmp-4294967280-abc123";
  test::write_bytes(base_ / ended, "x");
  test::write_bytes(base_ / other, "x");
  EXPECT_EQ(remove_stale_temporaries(dir_, {"a.sim"}),
            std::vector<std::string>{join_path(dir_, ended)});
  EXPECT_EQ(names(), std::vector<std::string>{other});
}

}  // namespace
}  // namespace compactor

#endif  // _WIN32
