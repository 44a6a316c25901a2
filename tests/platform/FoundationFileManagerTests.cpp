#include "platform/foundation/FileManager.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using platform::FileManager;
using platform::NSCocoaErrorDomain;
using platform::NSErrorException;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// The error a throwing call raised, or a failure when it did not throw.
template <typename Call>
platform::NSError errorOf(Call&& call) {
    try {
        call();
    } catch (const NSErrorException& e) {
        return e.error();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

FileManager& fm() { return FileManager::defaultManager(); }

}  // namespace

TEST(FoundationFileManager, TellsFilesFromFoldersAndMissingItems) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "x");
    bool isDirectory = true;
    EXPECT_TRUE(fm().fileExists((dir / "a.txt").string(), isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_TRUE(fm().fileExists(dir.path().string(), isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_FALSE(fm().fileExists((dir / "missing").string()));
    EXPECT_FALSE(fm().fileExists(""));
    EXPECT_TRUE(fm().isReadableFile((dir / "a.txt").string()));
    EXPECT_FALSE(fm().isReadableFile((dir / "missing").string()));
}

TEST(FoundationFileManager, RemovesFilesAndFolderTreesAndRefusesMissingOnes) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "x");
    fm().createDirectory(dir / "tree/inner", true);
    writeFile(dir / "tree/inner/b.txt", "y");

    fm().removeItem(dir / "a.txt");
    fm().removeItem(dir / "tree");
    EXPECT_FALSE(fm().fileExists((dir / "a.txt").string()));
    EXPECT_FALSE(fm().fileExists((dir / "tree").string()));

    const platform::NSError error = errorOf([&] { fm().removeItem(dir / "a.txt"); });
    EXPECT_EQ(error.domain, NSCocoaErrorDomain);
    EXPECT_EQ(error.code, 4);
    EXPECT_NE(error.localizedDescription.find("a.txt"), std::string::npos);
}

TEST(FoundationFileManager, CopiesOnlyToAFreeDestination) {
    ScratchDir dir;
    writeFile(dir / "source.wav", "RIFF data");
    writeFile(dir / "taken.wav", "keep me");

    fm().copyItem(dir / "source.wav", dir / "copy.wav");
    EXPECT_EQ(readFile(dir / "copy.wav"), "RIFF data");

    const platform::NSError exists = errorOf([&] { fm().copyItem(dir / "source.wav", dir / "taken.wav"); });
    EXPECT_EQ(exists.domain, NSCocoaErrorDomain);
    EXPECT_EQ(exists.code, 516);
    EXPECT_EQ(readFile(dir / "taken.wav"), "keep me");

    EXPECT_EQ(errorOf([&] { fm().copyItem(dir / "missing.wav", dir / "other.wav"); }).code, 260);
    EXPECT_EQ(errorOf([&] { fm().copyItem(dir / "source.wav", dir / "no/such/folder.wav"); }).code, 4);
    EXPECT_FALSE(fm().fileExists((dir / "other.wav").string()));

    fm().createDirectory(dir / "folder/sub", true);
    writeFile(dir / "folder/sub/x.txt", "x");
    fm().copyItem(dir / "folder", dir / "folder2");
    EXPECT_EQ(readFile(dir / "folder2/sub/x.txt"), "x");
}

TEST(FoundationFileManager, CreatesFoldersWithAndWithoutIntermediates) {
    ScratchDir dir;
    fm().createDirectory(dir / "a/b/c", true);
    fm().createDirectory(dir / "a/b/c", true);  // already there: fine
    bool isDirectory = false;
    EXPECT_TRUE(fm().fileExists((dir / "a/b/c").string(), isDirectory));
    EXPECT_TRUE(isDirectory);

    EXPECT_EQ(errorOf([&] { fm().createDirectory(dir / "a/b/c", false); }).code, 516);
    EXPECT_EQ(errorOf([&] { fm().createDirectory(dir / "x/y", false); }).code, 4);
    writeFile(dir / "file", "");
    EXPECT_EQ(errorOf([&] { fm().createDirectory(dir / "file", true); }).code, 516);
}

TEST(FoundationFileManager, ListsFolderContentsByName) {
    ScratchDir dir;
    writeFile(dir / "b.wav", "");
    writeFile(dir / ".hidden", "");
    fm().createDirectory(dir / "a", false);
    EXPECT_EQ(fm().contentsOfDirectory(dir.path().string()), (std::vector<std::string>{".hidden", "a", "b.wav"}));
    EXPECT_EQ(errorOf([&] { fm().contentsOfDirectory((dir / "missing").string()); }).code, 260);
}

TEST(FoundationFileManager, DocumentsFolderIsUnderHome) {
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(fm().documentDirectoryURL().path(), home + "/Documents");
}
