// Files a user may hand the importer that are not what they seem, imported
// through the object list as the window does: each either becomes an object
// or is refused with a message that says what was found.
#include "SceneTestHost.h"
#include "tests/fileIo/StlFixtures.h"

#include "fileIo/PathEncoding.h"

#include <QFile>

#include <cstdio>

namespace {

TEST_F(SceneTest, fileNameThatIsNotUtf8Imports) {
    // The byte 0xff never occurs in UTF-8: the name reaches the scene with
    // that byte escaped and must open as the same file.
    const std::string bytes = dir.path().toStdString() + "/cube\xff.stl";
    ASSERT_TRUE(stlfixtures::writeFile(bytes, stlfixtures::binaryStl(stlfixtures::cube())));
    // Qt's folder listing skips the name, so the temporary folder cannot.
    struct Remove {
        std::string name;
        ~Remove() { std::remove(name.c_str()); }
    } remove{bytes};
    const std::wstring path = fileIo::decodePath(bytes);
    ASSERT_EQ(fileIo::encodePath(path), bytes);
    importAndWait({QString::fromStdWString(path)});
    EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(table()->count(), 1);
    EXPECT_EQ(table()->objectAt(0)->facetCount(), 12u);
    EXPECT_EQ(fileIo::encodePath(table()->objectAt(0)->filePath()), bytes);
}

} // namespace
