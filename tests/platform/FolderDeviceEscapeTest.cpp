#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/platform/FolderDeviceFixture.h"

namespace zephyrate::test {
namespace {

namespace fs = std::filesystem;

// Every operation, given a path that tries to leave the device folder, must fail and
// leave the outside folder exactly as it was.
class FolderDeviceEscapeTest : public FolderDeviceFixture {
  protected:
    void SetUp() override {
        FolderDeviceFixture::SetUp();
        fs::create_directory_symlink(outside_, root_ / "out");        // a folder outside
        fs::create_symlink(outside_ / "secret.txt", root_ / "leak");  // a file outside
        fs::create_symlink("../outside", root_ / "rel");              // relative, same place
        temp_.WriteFile("device/inside.txt", "inside");
        fs::create_directory(root_ / "folder");
    }

    // Every operation on path must fail with error; where path names an existing link,
    // the operations that make a new entry fail with ERROR_ALREADY_EXISTS instead.
    void ExpectRefused(const std::string& path, std::uint32_t error, bool existing = false) {
        const std::u16string p = W(path);
        const struct {
            const char* name;
            bool makesEntry;
            std::function<bool()> run;
        } operations[] = {
            {"attributes", false, [&] { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }},
            {"create", false, [&] { return WriteDeviceFile(path, "escaped"); }},
            {"open", false,
             [&] {
                 const DeviceHandle file =
                     device_.CeCreateFile(p.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0);
                 return file != INVALID_HANDLE_VALUE && device_.CeCloseHandle(file);
             }},
            {"delete", false, [&] { return device_.CeDeleteFile(p.c_str()); }},
            {"move from", false, [&] { return device_.CeMoveFile(p.c_str(), u"\\stolen.txt"); }},
            {"move to", true, [&] { return device_.CeMoveFile(u"\\inside.txt", p.c_str()); }},
            {"mkdir", true, [&] { return device_.CeCreateDirectory(p.c_str()); }},
            {"shortcut", true,
             [&] { return device_.CeSHCreateShortcut(p.c_str(), u"\"\\x\"") != 0; }},
            {"list", false,
             [&] {
                 bool listed = false;
                 List(path + "\\*.*", FAF_NAME, &listed);
                 return listed;
             }},
        };
        for (const auto& op : operations) {
            EXPECT_EQ(ErrorOf(op.run, path + " " + op.name),
                      existing && op.makesEntry ? ERROR_ALREADY_EXISTS : error)
                << path << " " << op.name;
        }
    }

    void ExpectOutsideUntouched() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(outside_)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"secret.txt"});
        EXPECT_EQ(TempFolder::ReadFile(outside_ / "secret.txt"), "secret");
        EXPECT_EQ(TempFolder::ReadFile(root_ / "inside.txt"), "inside");
    }
};

TEST_F(FolderDeviceEscapeTest, SymbolicLinksAreInvisibleAndRefused) {
    EXPECT_EQ(Names("\\*.*"), (std::vector<std::string>{"folder", "inside.txt"}));
    for (const char* link : {"\\out", "\\OUT", "\\rel", "\\leak"}) {
        ExpectRefused(link, ERROR_ACCESS_DENIED, true);
    }
    // Links met as the first folder of a path and below a real folder, where a path of
    // several folders is opened in one call.
    fs::create_directory_symlink(outside_, root_ / "folder/out");
    for (const char* path : {"\\out\\secret.txt", "\\out\\new.txt", "\\rel\\secret.txt",
                             "\\folder\\out\\secret.txt", "\\out\\sub\\new.txt"}) {
        ExpectRefused(path, ERROR_ACCESS_DENIED);
    }
    ExpectOutsideUntouched();
    EXPECT_TRUE(fs::is_symlink(root_ / "leak"));

    // A registry file that is a link is not read.
    temp_.WriteFile("outside/registry.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Platform]\n\"DataPath\"=\"\\\\leaked\"\n");
    fs::create_symlink(outside_ / "registry.reg", root_ / ".registry.reg");
    HKEY key = 0;
    EXPECT_EQ(device_.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SYSTEM\\Platform", 0, 0, &key),
              static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FolderDeviceEscapeTest, DotDotIsRefusedEverywhere) {
    for (const char* path :
         {"\\..\\outside\\secret.txt", "folder/../../outside/secret.txt", "\\folder\\..", "\\.."}) {
        ExpectRefused(path, ERROR_INVALID_NAME);
    }
    ExpectOutsideUntouched();
}

TEST_F(FolderDeviceEscapeTest, AbsoluteHostPathsStayInsideTheDeviceFolder) {
    ExpectRefused((outside_ / "secret.txt").string(), ERROR_PATH_NOT_FOUND);  // "/tmp/..."
    ExpectRefused((outside_ / "new").string(), ERROR_PATH_NOT_FOUND);
    ExpectOutsideUntouched();

    // The same path with its folders made on the device means a file on the device.
    EXPECT_TRUE(device_.CeCreateDirectory(u"/etc"));
    EXPECT_TRUE(WriteDeviceFile("/etc/passwd", "device's own"));
    EXPECT_EQ(TempFolder::ReadFile(root_ / "etc/passwd"), "device's own");
    EXPECT_NE(TempFolder::ReadFile("/etc/passwd"), "device's own");
}

}  // namespace
}  // namespace zephyrate::test
