// lifecycle_test.cpp - loading and releasing the one global song.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <string>

#include "gp/song.h"
#include "gp4_writer.h"
#include "heap.h"
#include "zelto.h"
#include "zelto/global.h"

namespace {

// Every test starts and ends with no song loaded.
class LifecycleSong : public ::testing::Test {
protected:
    void SetUp() override { ZELTO_Init(); }
    void TearDown() override {
        ZELTO_Unload();
        EXPECT_EQ(Talvoren::theFileStruct, nullptr);
    }
    std::string WriteSongFile(const gp4::Song &song, const std::string &hint) {
        return gp4::WriteTempFile(gp4::WriteSong(song), hint);
    }
};

const char *LoadedTitle() {
    return Talvoren::theFileStruct != nullptr ? Talvoren::theFileStruct->headers.tabInfo.title : nullptr;
}

// The number of files this process holds open.
int OpenFileCount() {
    DIR *descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return -1;
    int count = 0;
    while (readdir(descriptors) != nullptr) ++count;
    closedir(descriptors);
    return count;
}

TEST(Lifecycle, NullPathAndMissingFileFail) {
    ZELTO_Init();
    EXPECT_EQ(ZELTO_Load(nullptr), 0);
    EXPECT_EQ(ZELTO_Load("/nonexistent/song.gp4"), 0);
    ZELTO_Unload();
    ZELTO_Free();
    ZELTO_Free();
}

TEST_F(LifecycleSong, SongLoadsAndUnloads) {
    gp4::Song song = gp4::FeatureRichSong();
    std::string path = WriteSongFile(song, "rich");
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
    ASSERT_NE(Talvoren::theFileStruct, nullptr);
    EXPECT_STREQ(LoadedTitle(), "Feature rich");
    EXPECT_EQ(+Talvoren::theFileStruct->headers.pieceInfo.measureCount, 4u);  // a packed field: compare a copy
    EXPECT_EQ(+Talvoren::theFileStruct->headers.pieceInfo.trackCount, 3u);
    EXPECT_STREQ(Talvoren::theFileStruct->body.tracks[2].name, "Seven strings");
    ZELTO_Unload();
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
    ZELTO_Unload();
    ZELTO_Free();
}

TEST_F(LifecycleSong, FreeReleasesLikeUnload) {
    std::string path = WriteSongFile(gp4::MinimalSong(), "minimal");
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
    ZELTO_Free();
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
    ZELTO_Free();
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
}

TEST_F(LifecycleSong, SecondLoadFailsAndLeavesTheSongAlone) {
    std::string first = WriteSongFile(gp4::FeatureRichSong(0), "first");
    std::string second = WriteSongFile(gp4::FeatureRichSong(1), "second");
    ASSERT_EQ(ZELTO_Load(first.c_str()), 1);
    Talvoren::FileStruct *loaded = Talvoren::theFileStruct;
    EXPECT_EQ(ZELTO_Load(first.c_str()), 0);
    EXPECT_EQ(ZELTO_Load(second.c_str()), 0);
    EXPECT_EQ(ZELTO_Load(nullptr), 0);
    EXPECT_EQ(Talvoren::theFileStruct, loaded);
    EXPECT_STREQ(LoadedTitle(), "Feature rich");
    EXPECT_STREQ(Talvoren::theFileStruct->body.measures[3].marker->text, "Outro");
    ZELTO_Unload();
    ASSERT_EQ(ZELTO_Load(second.c_str()), 1);
    EXPECT_STREQ(LoadedTitle(), "Second title");
}

TEST_F(LifecycleSong, WrongVersionLeavesNoSongAndTheNextLoadWorks) {
    gp4::Song wrong = gp4::MinimalSong();
    wrong.version = "FICHIER GUITAR PRO v5.00";
    std::string wrongPath = WriteSongFile(wrong, "wrong");
    std::string goodPath = WriteSongFile(gp4::MinimalSong(), "good");
    EXPECT_EQ(ZELTO_Load(wrongPath.c_str()), 0);
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
    EXPECT_EQ(ZELTO_GetTitle(), nullptr);
    ASSERT_EQ(ZELTO_Load(goodPath.c_str()), 1);
    EXPECT_STREQ(LoadedTitle(), "Title");
}

// Init forgets a loaded song without freeing it; the test frees the orphan.
TEST_F(LifecycleSong, InitForgetsTheSongAndALoadFollows) {
    std::string path = WriteSongFile(gp4::MinimalSong(), "init");
    ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
    Talvoren::FileStruct *orphan = Talvoren::theFileStruct;
    ZELTO_Init();
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
    EXPECT_STREQ(orphan->headers.tabInfo.title, "Title") << "Init frees nothing";
    EXPECT_EQ(ZELTO_Load(path.c_str()), 1);
    EXPECT_NE(Talvoren::theFileStruct, orphan);
    Talvoren::FreeFileStruct(orphan);
    Talvoren::MemFree(orphan);
}

// Every prefix fails with no song left and no file left open; the leak
// checker of the sanitizer build sees every allocation released.
TEST_F(LifecycleSong, EveryPrefixFailsWithTheFileClosed) {
    gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(1));
    int openBefore = OpenFileCount();
    for (std::size_t length = 0; length < bytes.size(); length += 7) {
        std::string path = gp4::WriteTempFile(gp4::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length)),
                                              "prefix");
        ASSERT_EQ(ZELTO_Load(path.c_str()), 0) << length;
        ASSERT_EQ(Talvoren::theFileStruct, nullptr);
        gp4::RemoveTempFile(path);
    }
    EXPECT_EQ(OpenFileCount(), openBefore);
    std::string whole = gp4::WriteTempFile(bytes, "whole");
    ASSERT_EQ(ZELTO_Load(whole.c_str()), 1);
    ZELTO_Unload();
    EXPECT_EQ(OpenFileCount(), openBefore);
}

TEST_F(LifecycleSong, DirectoryOrEmptyFileIsNoSong) {
    EXPECT_EQ(ZELTO_Load("/"), 0);
    std::string empty = gp4::WriteTempFile(gp4::Bytes(), "empty");
    EXPECT_EQ(ZELTO_Load(empty.c_str()), 0);
    EXPECT_EQ(Talvoren::theFileStruct, nullptr);
}

}  // namespace
