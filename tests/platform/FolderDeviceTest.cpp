// The device over a real folder: operations and their errors, paths that try to leave the
// folder, handles, listings and storage cards, the registry, shortcuts, the link, the
// folder's location.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/DeviceFolderLocation.h"
#include "platform/ScopedFd.h"
#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

class FolderDeviceTest : public FolderDeviceFixture {};

// The cases run in order on one tree: lookups first, then what fails, then changes.
TEST_F(FolderDeviceTest, EachOperationGivesTheDevicesResult) {
    for (const char* file : {"dir/file.txt", "dir/ro.txt", "locked.txt", "Docs/Report.TXT",
                             "Docs/report.txt", "\xC3\x89t\xC3\xA9/a.txt"}) {
        temp_.WriteFile(std::string("device/") + file, "keep");
    }
    chmod((root_ / "dir/ro.txt").c_str(), 0444);
    ASSERT_EQ(mkfifo((root_ / "pipe").c_str(), 0644), 0);  // must neither block nor open
    // Held as another program holds it: flock locks belong to the open file, so the
    // device's own opens conflict with this one.
    const ScopedFd held(open((root_ / "locked.txt").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(held.Get(), LOCK_EX | LOCK_NB), 0);
    // 150 device characters but 300 bytes on disk.
    const std::string wide = "\\" + Utf16ToUtf8(std::u16string(150, u'\u00e9'));
    std::string deep;  // 5000 characters of one-letter folders
    while (deep.size() < 5000) {
        deep += "\\d";
    }
    const struct {
        Op op;
        std::uint32_t result;
        std::vector<std::string> paths;
        std::string other = "\\dir\\file.txt";
    } cases[] = {
        {Op::Attributes,
         ERROR_SUCCESS,
         {"\\docs\\REPORT.txt", "docs/report.txt", "\\\\DOCS//\\report.txt\\", "",
          "\\\xC3\x89T\xC3\x89\\A.TXT"}},  // "ÉTÉ" finds "Été"
        {Op::Attributes, ERROR_FILE_NOT_FOUND, {"\\dir\\missing.txt"}},
        // A file as a folder is a missing path.
        {Op::Attributes, ERROR_PATH_NOT_FOUND, {"\\dir\\missing\\c.txt", "\\dir\\file.txt\\d"}},
        {Op::Write, ERROR_FILENAME_EXCED_RANGE, {wide}},
        {Op::Mkdir, ERROR_FILENAME_EXCED_RANGE, {"\\" + std::string(40000, 'h')}},
        {Op::Shortcut, ERROR_PATH_NOT_FOUND, {deep, "\\nowhere\\a.lnk"}},
        {Op::List, ERROR_PATH_NOT_FOUND, {deep, "\\missing", "\\dir\\file.txt"}},
        {Op::Attributes, ERROR_ACCESS_DENIED, {"\\pipe"}},
        {Op::Write, ERROR_ACCESS_DENIED, {"\\Dir", "\\", "\\dir\\ro.txt", "\\pipe"}},
        {Op::Write, ERROR_SHARING_VIOLATION, {"\\LOCKED.txt"}},
        {Op::Open, ERROR_ACCESS_DENIED, {"\\pipe"}},
        // A read-only file by its mode bits, also as root.
        {Op::Delete, ERROR_ACCESS_DENIED, {"\\dir\\ro.txt", "\\dir", "\\"}},
        {Op::Delete, ERROR_SHARING_VIOLATION, {"\\locked.txt"}},
        {Op::Mkdir, ERROR_ALREADY_EXISTS, {"\\DIR", "\\dir\\ro.txt", "\\"}},
        {Op::MoveTo, ERROR_ALREADY_EXISTS, {"\\DIR\\RO.TXT", "\\"}},  // a move never replaces
        // An existing name is written whatever its case (the first in byte order of those
        // equal ignoring case, unless one is exact); a new name keeps the case given.
        {Op::Write, ERROR_SUCCESS, {"\\DOCS\\REPORT.txt", "\\docs\\report.txt", "\\docs\\New.Txt"}},
        {Op::Mkdir, ERROR_SUCCESS, {"\\docs\\..."}},       // dots in a name
        {Op::MoveTo, ERROR_SUCCESS, {"\\dir\\FILE.TXT"}},  // a change of case only renames
        {Op::Delete, ERROR_SUCCESS, {"\\DIR\\file.txt"}},
        // A file in use or read-only cannot be replaced but can be moved.
        {Op::MoveFrom, ERROR_SUCCESS, {"\\locked.txt"}, "\\dir\\locked.txt"},
        {Op::MoveFrom, ERROR_SUCCESS, {"\\dir\\ro.txt"}, "\\ro.txt"},
    };
    for (const auto& c : cases) {
        for (const std::string& path : c.paths) {
            EXPECT_EQ(Do(c.op, path, c.other), c.result)
                << static_cast<int>(c.op) << " " << path.substr(0, 40);
        }
    }
    for (const char* name : {"dir/locked.txt", "ro.txt"}) {
        EXPECT_EQ(TempFolder::ReadFile(root_ / name), "keep") << name;
    }
    EXPECT_EQ(Names("\\dir\\*.*"), std::vector<std::string>{"locked.txt"});
    EXPECT_EQ(Names("\\docs\\*.*"),
              (std::vector<std::string>{"...", "New.Txt", "Report.TXT", "report.txt"}));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Docs/Report.TXT"), "\\DOCS\\REPORT.txt");
    EXPECT_EQ(TempFolder::ReadFile(root_ / "Docs/report.txt"), "\\docs\\report.txt");
}

// Every operation, given a path that tries to leave the device folder, must fail and
// leave the outside folder exactly as it was.
TEST_F(FolderDeviceTest, NoPathLeavesTheDeviceFolder) {
    const fs::path outside = temp_ / "outside";
    fs::create_directory_symlink(outside, root_ / "out");        // a folder outside
    fs::create_symlink(outside / "secret.txt", root_ / "leak");  // a file outside
    fs::create_directories(root_ / "folder");
    fs::create_directory_symlink(outside, root_ / "folder/out");  // below a real folder
    temp_.WriteFile("device/other", "inside");
    EXPECT_EQ(Names("\\*.*"), (std::vector<std::string>{"folder", "other"}));  // links unseen
    const struct {
        std::string path;
        std::uint32_t error;
        bool link = false;  // names an existing link: what makes an entry finds it there
    } cases[] = {
        {"\\out", ERROR_ACCESS_DENIED, true},
        {"\\OUT", ERROR_ACCESS_DENIED, true},
        {"\\leak", ERROR_ACCESS_DENIED, true},
        {"\\out\\secret.txt", ERROR_ACCESS_DENIED},
        {"\\out\\sub\\new.txt", ERROR_ACCESS_DENIED},
        {"\\folder\\out\\secret.txt", ERROR_ACCESS_DENIED},
        {"\\..\\outside\\secret.txt", ERROR_INVALID_NAME},
        {"folder/../../outside/secret.txt", ERROR_INVALID_NAME},
        {(outside / "secret.txt").string(), ERROR_PATH_NOT_FOUND},  // "/tmp/...": on the device
    };
    for (const auto& c : cases) {
        for (Op op : {Op::Attributes, Op::Write, Op::Open, Op::Delete, Op::MoveFrom, Op::MoveTo,
                      Op::Mkdir, Op::Shortcut, Op::List}) {
            const bool makesEntry = op == Op::MoveTo || op == Op::Mkdir || op == Op::Shortcut;
            EXPECT_EQ(Do(op, c.path, op == Op::MoveFrom ? "\\stolen" : "\\other"),
                      c.link && makesEntry ? ERROR_ALREADY_EXISTS : c.error)
                << c.path << " " << static_cast<int>(op);
        }
    }
    EXPECT_EQ(TempFolder::ReadFile(root_ / "other"), "inside");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 1);
    EXPECT_EQ(TempFolder::ReadFile(outside / "secret.txt"), "secret");
    EXPECT_TRUE(fs::is_symlink(root_ / "leak"));

    // A registry file that is a link is not read.
    temp_.WriteFile("outside/registry.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\n\"DataPath\"=\"\\\\leaked\"\n");
    fs::create_symlink(outside / "registry.reg", root_ / ".registry.reg");
    HKEY key = 0;
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
}

// A write handle replaces the file; a handle closed or never given is refused, so that
// it cannot reach a descriptor that now belongs to another file.
TEST_F(FolderDeviceTest, WritesThroughValidHandlesOnly) {
    temp_.WriteFile("device/news.txt", "a longer first version");
    const DeviceHandle file =
        device_.CeCreateFile(u"\\news.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    std::uint32_t n = 0;
    ASSERT_TRUE(device_.CeWriteFile(file, "new", 3, &n));
    EXPECT_TRUE(device_.CeCloseHandle(file));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "news.txt"), "new");
    const auto refused = [&](bool done) {
        return !done && device_.CeGetLastError() == ERROR_INVALID_HANDLE;
    };
    const FILETIME stamp{};
    for (DeviceHandle bad : {file, INVALID_HANDLE_VALUE, DeviceHandle{0}, DeviceHandle{123456}}) {
        EXPECT_TRUE(refused(device_.CeWriteFile(bad, "x", 1, &n)));
        EXPECT_TRUE(refused(device_.CeSetFileTime(bad, nullptr, nullptr, &stamp)));
        EXPECT_TRUE(refused(device_.CeCloseHandle(bad)));
    }
}

// Sorted by bytes, wildcards matched ignoring case, dot names left out on request, folders
// only with storage cards (a marker file at the top) told apart, the fields asked for.
TEST_F(FolderDeviceTest, ListsWhatThePatternAndTheFlagsAskFor) {
    for (const char* name : {"b.txt", "B.txt", "a", "\xC3\xA9.txt", "caf\xE9.txt", ".hidden",
                             "Zeta/inner/x", "SD Card/.storage-card", "Plain/inner/.storage-card",
                             "Fake/.storage-card/x", "file.storage-card"}) {
        temp_.WriteFile(std::string("device/") + name, "");
    }
    const std::vector<std::string> all = {
        ".hidden",     "B.txt", "Fake",  "Plain",       "SD Card",
        "Zeta",        "a",     "b.txt", "caf\xE9.txt", "file.storage-card",
        "\xC3\xA9.txt"};  // "caf\xE9" is Latin-1, not UTF-8
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"\\*.*", all},
        {"*", all},
        {"\\*.TXT", {"B.txt", "b.txt", "caf\xE9.txt", "\xC3\xA9.txt"}},
        {"\\?.txt", {"B.txt", "b.txt", "\xC3\xA9.txt"}},  // "?" is one character of any size
        {"\\??.txt", {}},
        {"\\zeta\\*.*", {"inner"}},
    };
    for (const auto& [pattern, names] : cases) {
        EXPECT_EQ(Names(pattern), names) << pattern;
    }
    EXPECT_EQ(Names("\\*.*", FAF_NAME | FAF_NO_HIDDEN_SYS_ROMMODULES).front(), "B.txt");
    EXPECT_EQ(Names("\\*.*", FAF_NAME | FAF_FOLDERS_ONLY),
              (std::vector<std::string>{"Fake", "Plain", "SD Card", "Zeta"}));
    EXPECT_EQ(List("\\s*", FAF_ATTRIBUTES).at(0).dwFileAttributes,
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_EQ(device_.CeGetFileAttributes(u"\\fake"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(device_.CeGetFileAttributes(u"\\Plain\\inner"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(device_.CeGetFileAttributes(u"\\.hidden"),
              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    temp_.WriteFile("device/flags/file.bin", std::string(5000, 'f'));
    chmod((root_ / "flags/file.bin").c_str(), 0444);
    fs::create_directory(root_ / "flags" / std::string(255, 'x'));  // the longest name fits
    const timespec stamps[2] = {{1000000000, 0}, {1600000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "flags/file.bin").c_str(), stamps, 0), 0);
    const auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    const std::vector<CE_FIND_DATA> found =
        List("\\flags\\*.*", FAF_NAME | FAF_ATTRIBUTES | FAF_SIZE_LOW | FAF_SIZE_HIGH |
                                 FAF_LASTWRITE_TIME | FAF_LASTACCESS_TIME);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(Utf16ToUtf8(found[1].cFileName), std::string(255, 'x'));
    const CE_FIND_DATA& file = found[0];
    EXPECT_EQ(file.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(file.nFileSizeLow, 5000u);
    EXPECT_EQ(ticks(file.ftLastWriteTime), (1600000000 + 11644473600ULL) * 10000000 + 5);
    EXPECT_EQ(ticks(file.ftLastAccessTime), (1000000000 + 11644473600ULL) * 10000000);
    // Arrays stay valid until freed, each once.
    std::uint32_t count = 0;
    CE_FIND_DATA* array = nullptr;
    ASSERT_TRUE(device_.CeFindAllFiles(u"\\*.*", FAF_NAME, &count, &array));
    EXPECT_EQ(device_.CeRapiFreeBuffer(array), S_OK);
    EXPECT_LT(device_.CeRapiFreeBuffer(array), 0);
}

// The device registry's section and value names are found ignoring case (the value's size
// limit is DeviceFoldersTest's). A shortcut's count is of UTF-16 units, its text UTF-8.
TEST_F(FolderDeviceTest, ReadsTheDeviceRegistryAndWritesShortcuts) {
    temp_.WriteFile("device/.registry.reg",
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Other]\r\n\"DataPath\"=\"\\\\wrong\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\System\\Platform]\r\n\"DataPath\"=\"\\\\Card\"\r\n");
    const auto code = [](std::uint32_t error) { return static_cast<std::int32_t>(error); };
    HKEY key = 0;
    ASSERT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              ERROR_SUCCESS);
    char16_t value[8] = {};
    auto* data = reinterpret_cast<std::uint8_t*>(value);
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value;
    ASSERT_EQ(device_.CeRegQueryValueEx(key, u"datapath", &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(value), u"\\Card");
    EXPECT_EQ(device_.CeRegQueryValueEx(key, u"Missing", &type, data, &size),
              code(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(device_.CeRegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(device_.CeRegCloseKey(key), code(ERROR_INVALID_HANDLE));

    fs::create_directories(root_ / "windows");
    EXPECT_EQ(device_.CeSHCreateShortcut(u"\\Windows\\\u00e9.lnk", u"\"\\\u00e9\U0001F600\""), 1);
    EXPECT_EQ(TempFolder::ReadFile(root_ / "windows/\xC3\xA9.lnk"),
              "6#\"\\\xC3\xA9\xF0\x9F\x98\x80\"");
}

// A configured folder that is missing is waited for, never made; the link's end closes the
// files it opened (and so their locks); the last error is kept per thread and per object.
TEST(FolderDeviceLinkTest, TheLinkOpensAndEndsAndErrorsArePerThread) {
    TempFolder temp;
    FolderDevice device((temp / "card").string(), false);
    EXPECT_EQ(device.CeGetFileAttributes(u"\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(device.CeGetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    RAPIINIT stale;
    ASSERT_GE(device.CeRapiInitEx(stale), 0);
    EXPECT_EQ(device.WaitForRapiInit(stale, 100), WAIT_TIMEOUT);
    EXPECT_FALSE(fs::exists(temp / "card"));
    fs::create_directory(temp / "card");
    ASSERT_TRUE(Connect(device));
    const DeviceHandle file = device.CeCreateFile(u"\\a", GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    EXPECT_EQ(device.CeRapiUninit(), S_OK);
    EXPECT_FALSE(device.CeCloseHandle(file));
    EXPECT_EQ(device.CeGetLastError(), ERROR_INVALID_HANDLE);
    std::uint32_t otherThreadsError = 99;
    std::thread([&] { otherThreadsError = device.CeGetLastError(); }).join();
    EXPECT_EQ(otherThreadsError, ERROR_SUCCESS);
    EXPECT_EQ(FolderDevice(temp.Path().string(), false).CeGetLastError(), ERROR_SUCCESS);
}

TEST(DeviceFolderLocationTest, ChoosesInOrderOfPrecedenceAndConnectingMakesTheDefault) {
    TempFolder temp;
    std::map<std::string, std::string> variables = {
        {"ZEPHYRATE_DEVICE", "/media/env"}, {"XDG_DATA_HOME", "/xdg"}, {"HOME", "/home/u"}};
    const auto choose = [&](const char* cli, const char* setting) {
        return DeviceFolderLocation::Choose(cli, setting, [&](const char* name) {
            auto it = variables.find(name);
            return it == variables.end() ? std::nullopt : std::optional(it->second);
        });
    };
    using Choice = DeviceFolderChoice;
    EXPECT_EQ(choose("/media/cli", "/media/set"), (Choice{"/media/cli", false}));
    EXPECT_EQ(choose("", "/media/set"), (Choice{"/media/env", false}));
    variables["ZEPHYRATE_DEVICE"] = "";  // an empty variable counts as unset
    EXPECT_EQ(choose("", "/media/set"), (Choice{"/media/set", false}));
    EXPECT_EQ(choose("", ""), (Choice{"/xdg/zephyrate/device", true}));
    variables["XDG_DATA_HOME"] = "relative/data";  // not absolute: ignored
    EXPECT_EQ(choose("", ""), (Choice{"/home/u/.local/share/zephyrate/device", true}));
    variables["HOME"] = (temp / "home").string();
    const Choice choice = choose("", "");
    FolderDevice device(choice.path, choice.createWhenMissing);
    ASSERT_TRUE(Connect(device, 1000));
    EXPECT_TRUE(fs::is_directory(temp / "home/.local/share/zephyrate/device"));
}

}  // namespace
}  // namespace zephyrate::test
