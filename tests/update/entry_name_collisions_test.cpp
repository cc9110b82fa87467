// The names that a Mac's disk takes for one, as the install roads and the publishing tool see
// them; the roads themselves are tested end to end.
#include "update/unpack/entry_name_collisions.h"

#include <gtest/gtest.h>

namespace {

// "<first> | <second> | <reason>" of the first collision, or "none".
std::string collisionOf(const std::vector<std::string>& names) {
    const auto collision = firstEntryNameCollision(names);
    if (!collision) {
        return "none";
    }
    return names[collision->first] + " | " + names[collision->second] + " | " +
           entryNameCollisionReason(names, *collision);
}

const std::string kOneName = "differ only in letter case or Unicode normalization, and are one "
                             "name on a disk that ignores both, as a Mac's does";

} // namespace

TEST(EntryNameCollisions, AFolderAndItsContentsAreNoCollision) {
    EXPECT_EQ(collisionOf({"Game.app/", "Game.app/Contents/", "Game.app/Contents/MacOS/game",
                           "Game.app/Contents/Resources/levels/", "ReleaseIndex.sha256"}),
              "none");
    // Contents listed before their folder, and folders never listed on their own.
    EXPECT_EQ(collisionOf({"Game.app/Contents/MacOS/game", "Game.app/Contents/", "Game.app/"}),
              "none");
    EXPECT_EQ(collisionOf({"a/b/c", "a/b/d", "a/e"}), "none");
    // Spellings that only look alike on Linux stay apart: other letters, other accents.
    EXPECT_EQ(collisionOf({"caf\xC3\xA9.txt", "caf\xC3\xA8.txt", "cafe.txt"}), "none");
}

TEST(EntryNameCollisions, TheSameNameTwiceHoweverWritten) {
    EXPECT_EQ(collisionOf({"a/Level.bin", "a/x", "a/Level.bin"}),
              "a/Level.bin | a/Level.bin | the same name twice");
    // Empty and "." components name the same place.
    EXPECT_EQ(collisionOf({"a/b", "./a//b"}), "a/b | ./a//b | the same name twice");
    // A folder entry spelt as another entry is no second file: the later replaces the earlier
    // on a Mac as on Linux. Spelt otherwise, it is a collision like any other.
    EXPECT_EQ(collisionOf({"a/b/", "a/b", "a/b/"}), "none");
    EXPECT_EQ(collisionOf({"a/b/", "a/B"}), "a/b/ | a/B | their names " + kOneName);
}

TEST(EntryNameCollisions, CaseAndNormalizationAreIgnoredAtEveryLevel) {
    EXPECT_EQ(collisionOf({"G.app/Level.bin", "G.app/level.bin"}),
              "G.app/Level.bin | G.app/level.bin | their names " + kOneName);
    // NFC and NFD "café.txt", and a composed capital against a decomposed small letter.
    EXPECT_EQ(collisionOf({"caf\xC3\xA9.txt", "cafe\xCC\x81.txt"}),
              "caf\xC3\xA9.txt | cafe\xCC\x81.txt | their names " + kOneName);
    EXPECT_EQ(collisionOf({"\xC3\x89t\xC3\xA9", "e\xCC\x81te\xCC\x81"}),
              "\xC3\x89t\xC3\xA9 | e\xCC\x81te\xCC\x81 | their names " + kOneName);
    // Beyond ASCII: Greek and Cyrillic capitals.
    EXPECT_NE(collisionOf({"\xCE\xA3.txt", "\xCF\x83.txt"}), "none");
    EXPECT_NE(collisionOf({"\xD0\x96", "\xD0\xB6"}), "none");
    // Folders spelt two ways put their files in one folder there: named where they meet.
    EXPECT_EQ(collisionOf({"Maps/one.bin", "Game/x", "maps/two.bin"}),
              "Maps/one.bin | maps/two.bin | 'Maps' and 'maps' " + kOneName);
    EXPECT_EQ(collisionOf({"data", "Data/x"}), "data | Data/x | 'data' and 'Data' " + kOneName);
}

TEST(EntryNameCollisions, NamesThatAreNoUtf8AreComparedAsTheyAre) {
    EXPECT_EQ(collisionOf({"a\xFF", "a\xFE", "A\xFF"}), "none");
    EXPECT_EQ(collisionOf({"a\xFF", "a\xFF"}), "a\xFF | a\xFF | the same name twice");
}
