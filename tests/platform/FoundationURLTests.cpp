#include "platform/foundation/URL.h"

#include <gtest/gtest.h>

using platform::URL;

TEST(FoundationURL, PathComponentsFollowThePlatform) {
    struct Case {
        const char* path;
        const char* extension;
        const char* last;
        const char* withoutExtension;
        const char* parent;
    };
    const Case cases[] = {
        {"/a/b.tar.gz", "gz", "b.tar.gz", "/a/b.tar", "/a"},
        {"/a/.hidden", "", ".hidden", "/a/.hidden", "/a"},
        {"/a/b/", "", "b", "/a/b", "/a"},
        {"/a/song.wav", "wav", "song.wav", "/a/song", "/a"},
        {"/a/b.", "", "b.", "/a/b.", "/a"},
        {"/top", "", "top", "/top", "/"},
        {"relative/x.caf", "caf", "x.caf", "relative/x", "relative"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const URL url(c.path);
        EXPECT_EQ(url.pathExtension(), c.extension);
        EXPECT_EQ(url.lastPathComponent(), c.last);
        EXPECT_EQ(url.deletingPathExtension().path(), c.withoutExtension);
        EXPECT_EQ(url.deletingLastPathComponent().path(), c.parent);
    }
}

TEST(FoundationURL, AppendingComponentsAndExtensions) {
    EXPECT_EQ(URL("/a/b").appendingPathComponent("c.wav").path(), "/a/b/c.wav");
    EXPECT_EQ(URL("/a/b/").appendingPathComponent("c").path(), "/a/b/c");
    EXPECT_EQ(URL("/a/00001").appendingPathExtension("caf").path(), "/a/00001.caf");
    EXPECT_EQ(URL("/a/b").appendingPathExtension("").path(), "/a/b");
    EXPECT_EQ(URL("/a/b c.mp3").absoluteString(), "file:///a/b c.mp3");
}
