#include "settings/profile_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace trp {
namespace {

int Mode(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) return -1;
    return status.st_mode & 07777;
}

class ProfileStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    QString path_ = dir_.filePath("config/Kestrelby.conf");
};

TEST_F(ProfileStoreTest, AbsentKeysGiveTheDefaultAndAStoredEmptyTextStaysEmpty) {
    ProfileStore store(path_);
    EXPECT_EQ(store.Get("Port", "5432"), "5432");
    EXPECT_TRUE(store.Save("Port", ""));
    EXPECT_EQ(ProfileStore(path_).Get("Port", "5432"), "");
}

TEST_F(ProfileStoreTest, EveryValueIsWrittenAtOnceAndReadBackUnchanged) {
    ProfileStore store(path_);
    const QString values[] = {"localhost",
                              " padded ",
                              "pa;ss{}=\"'\\",
                              "@Invalid()",
                              "a, b, c",
                              "Ünïcødé ✓ 数据",
                              QString::fromUtf8("tab\there\nline\r\0nul", 18),
                              QString(10000, u'x'),
                              "#comment",
                              "[Section]"};
    for (const QString& value : values) {
        store.Save("Password2", value);
        // Another reader (the next start) sees it without any further step.
        EXPECT_EQ(ProfileStore(path_).Get("Password2", "default"), value);
    }
}

TEST_F(ProfileStoreTest, KeepsTheFormatOthersCanRead) {
    ProfileStore(path_).Save("Server2", "db.example");
    QSettings settings(path_, QSettings::IniFormat);
    EXPECT_EQ(settings.value("Tessaline Row Porter Suite/Server2").toString(), "db.example");
    // A line with unquoted commas (edited by hand) comes back whole.
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("User=a, b\n");
    file.close();
    EXPECT_EQ(ProfileStore(path_).Get("User", ""), "a, b");
}

TEST_F(ProfileStoreTest, ANewFileIsReadableByItsOwnerOnly) {
    ProfileStore store(path_);
    EXPECT_EQ(Mode(path_), 0600);  // before anything is written
    store.Save("Password", "secret");
    EXPECT_EQ(Mode(path_), 0600);
    QFile::remove(path_);  // removed behind the store's back
    store.Save("Password", "secret");
    EXPECT_EQ(Mode(path_), 0600);
}

TEST_F(ProfileStoreTest, AnExistingLooserFileIsNarrowedAndKeepsItsValues) {
    {
        QSettings settings(path_, QSettings::IniFormat);
        settings.setValue("Tessaline Row Porter Suite/Password", "old secret");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(path_).constData(), 0644), 0);
    ProfileStore store(path_);
    EXPECT_EQ(Mode(path_), 0600);
    EXPECT_EQ(store.Get("Password", ""), "old secret");
    ::chmod(QFile::encodeName(path_).constData(), 0664);
    store.Save("Password", "new secret");
    EXPECT_EQ(Mode(path_), 0600);
}

TEST_F(ProfileStoreTest, TheUsersStoreIsKestrelbyInTheUserConfigurationFolder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    ProfileStore store;
    EXPECT_EQ(store.FilePath().toStdString(), dir_.filePath("Kestrelby.conf").toStdString());
    EXPECT_EQ(Mode(store.FilePath()), 0600);
}

}  // namespace
}  // namespace trp
