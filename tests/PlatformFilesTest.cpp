// The platform's files: names with any letters, paths deeper than the old 260-character
// limit of Windows, identity through links, locks between two openings, and sources and
// outputs over them. std::filesystem takes the old limit on Windows: the deep paths are
// reached through the platform's functions alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "ToolRunner.h"
#include "model/Error.h"
#include "model/OutputStream.h"
#include "model/SourceFile.h"
#include "model/platform/Files.h"
#include "model/platform/SystemError.h"

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using platform::NativeFile;

// A folder under dir whose path is longer than 300 bytes, with letters beyond ASCII
// in its names (UTF-8).
std::string DeepFolder(const psb::tools::TempDir& dir) {
    std::string folder = dir.path().string();
    for (int i = 0; folder.size() < 300; ++i)
        folder += "/Ordner-\xC3\xBC\xE2\x82\xAC-" + std::to_string(i) + "-mit-einem-langen-Namen";
    return folder;
}

int ErrorOf(const auto& call) {
    try {
        call();
    } catch (const platform::SystemError& error) {
        return error.code();
    }
    return 0;
}

TEST(PlatformFiles, DeepPathsAndNamesBeyondAsciiWork) {
    psb::tools::TempDir dir;
    const std::string folder = DeepFolder(dir);
    platform::CreateFolders(folder);
    EXPECT_TRUE(platform::IsDirectory(folder));
    const std::string name = "Fi\xCC\x88lm \xE2\x9C\x93 \xF0\x9F\x8E\xAC.EVO"; // a combining mark, a symbol, beyond the BMP
    const std::string path = folder + "/" + name;

    bool created = false;
    NativeFile file = NativeFile::openToWrite(path, created);
    EXPECT_TRUE(created);
    const std::string text = "0123456789";
    file.writeAllAt(text.data(), text.size(), 5);
    file.close();
    EXPECT_EQ(platform::FolderEntries(folder), std::vector<std::string>{name});
    EXPECT_TRUE(fs::is_regular_file(platform::FsPath(path)));

    NativeFile again = NativeFile::openToWrite(path, created);
    EXPECT_FALSE(created);
    EXPECT_EQ(again.size(), 15);
    again.close();
    NativeFile reader = NativeFile::openToRead(path);
    std::string back(20, 'x');
    EXPECT_EQ(reader.readAt(back.data(), back.size(), 0), 15u);
    EXPECT_EQ(back.substr(0, 15), std::string(5, '\0') + text);
    EXPECT_EQ(reader.readAt(back.data(), 4, 15), 0u); // at the end
    reader.close();

    const std::string other = folder + "/\xC3\x84hnlich.tmp";
    NativeFile::openToWrite(other, created).close();
    platform::RenameReplacing(other, path); // over a file that exists
    EXPECT_EQ(platform::StatusOf(path)->size, 0);
    EXPECT_FALSE(platform::Exists(other));
    EXPECT_TRUE(platform::RemoveFile(path));
    EXPECT_FALSE(platform::RemoveFile(path));
    EXPECT_TRUE(platform::RemoveEmptyFolder(folder));
    EXPECT_FALSE(platform::Exists(folder));
}

TEST(PlatformFiles, FailuresSayWhatTheSystemSaid) {
    psb::tools::TempDir dir;
    EXPECT_EQ(ErrorOf([&] { NativeFile::openToRead(dir.file("missing")); }), ENOENT);
    EXPECT_EQ(platform::ErrorText(ENOENT), "No such file or directory");
    try {
        SourceFile folder(dir.path().string());
        ADD_FAILURE() << "a folder opened as a source";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + dir.path().string() + "\". Is a directory");
    }
    bool created = false;
    EXPECT_EQ(ErrorOf([&] { NativeFile::openToWrite(dir.file("no folder") + "/x", created); }), ENOENT);
    EXPECT_FALSE(platform::StatusOf(dir.file("missing")));
    EXPECT_FALSE(platform::CreateFolder(dir.path().string()));
    EXPECT_EQ(platform::AbsolutePath(dir.file("a") + "/./b/../c"),
              platform::Utf8Path(dir.path() / "a" / "c").c_str());
    const std::string absolute = platform::AbsolutePath("x");
    EXPECT_NE(std::count(absolute.begin(), absolute.end(), platform::PathSeparator), 0) << absolute;
}

TEST(PlatformFiles, ALinkHasTheIdentityOfItsFileAndALockHoldsAgainstAnotherOpening) {
    psb::tools::TempDir dir;
    const std::string path = dir.file("S\xC3\xA9rie_1.EVO");
    bool created = false;
    NativeFile written = NativeFile::openToWrite(path, created);
    written.writeAllAt(std::string(4096, '7').data(), 4096, 0);
    written.close();
    const std::string link = dir.file("link.mpv");
    fs::create_hard_link(platform::FsPath(path), link);
    const std::string copy = dir.file("copy.mpv");
    fs::copy_file(platform::FsPath(path), copy);
    EXPECT_EQ(platform::StatusOf(link)->identity, platform::StatusOf(path)->identity);
    EXPECT_NE(platform::StatusOf(copy)->identity, platform::StatusOf(path)->identity);
    EXPECT_EQ(NativeFile::openToRead(path).status().identity, platform::StatusOf(path)->identity);

    // An output that is the source under another name is refused, whatever the source's path.
    try {
        OpenOutputs({copy, link}, {path});
        FAIL() << "the link was opened";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + link + "\". It is the source file \"" + path + "\"");
    }
    SourceFile source(path);
    EXPECT_EQ(source.size(), 4096);

    NativeFile first = NativeFile::openToWrite(copy, created);
    NativeFile second = NativeFile::openToWrite(copy, created);
    EXPECT_TRUE(first.tryLock());
    EXPECT_FALSE(second.tryLock());
    std::vector<uint8_t> bytes(4096);
    EXPECT_EQ(NativeFile::openToRead(copy).readAt(bytes.data(), bytes.size(), 0), 4096u) << "readers are not held up";
    first.close();
    EXPECT_TRUE(second.tryLock());
}

} // namespace
} // namespace halyard::test
