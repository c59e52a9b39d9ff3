// The Debian package as a user meets it: its control fields, lintian's verdict, the files it
// installs and the program found in it, unpacked into a folder of the test's own.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "support/program_run.h"

namespace trp {
namespace {

const QString kVersion = QStringLiteral(TRP_PROJECT_VERSION);
const QString kApplicationFolder = QStringLiteral("/usr/lib/tessaline-row-porter");
const QString kDesktopId = QStringLiteral("example.kestrelby.TessalineRowPorter");

// Runs a tool that must succeed and returns its standard output.
QString Tool(const QString& program, const QStringList& arguments) {
    const test::ProgramResult result =
        test::RunProgram(program, arguments, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(result.exit_code, 0)
        << program.toStdString() << ' ' << arguments.join(' ').toStdString() << '\n'
        << result.output.toStdString() << result.errors.toStdString();
    return result.output;
}

QString ReadText(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString architecture = Tool("dpkg", {"--print-architecture"}).trimmed();
        file_ = QStringLiteral(TRP_PACKAGE_BUILD_DIR "/tessaline-row-porter_%1_%2.deb")
                    .arg(kVersion, architecture);
        root_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(QFileInfo::exists(file_)) << file_.toStdString();
        Tool("dpkg", {"-x", file_, root_->path()});
    }
    static void TearDownTestSuite() { root_.reset(); }

    // A path of the installed system inside the unpacked package.
    static QString Installed(const QString& path) { return root_->path() + path; }
    static QString Field(const char* name) {
        return Tool("dpkg-deb", {"--field", file_, QString::fromLatin1(name)}).trimmed();
    }

    static inline QString file_;
    static inline std::unique_ptr<QTemporaryDir> root_;
};

TEST_F(Package, ControlFieldsNameTheProgramItsMakerAndWhatItNeeds) {
    EXPECT_EQ(Field("Package"), "tessaline-row-porter");
    EXPECT_EQ(Field("Version"), kVersion);
    EXPECT_EQ(Field("Maintainer"), "Kestrelby <support@kestrelby.example>");
    EXPECT_EQ(Field("Suggests"), "postgresql-15");
    const QStringList depends = Field("Depends").split(QStringLiteral(", "));
    // The libraries' packages as dpkg-shlibdeps finds them, and the fonts the screens need.
    for (const char* needed : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libpq5", "libc6",
                               "fonts-liberation", "fonts-dejavu-core"}) {
        EXPECT_TRUE(depends.indexOf(QRegularExpression(QStringLiteral("^%1( .*)?$").arg(needed))) >=
                    0)
            << needed << " missing from " << depends.join(", ").toStdString();
    }
}

TEST_F(Package, LintianFindsNoErrorsAndNoWarnings) {
    const test::ProgramResult lintian = test::RunProgram(
        "lintian", {"--fail-on", "error,warning", file_}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(lintian.exit_code, 0) << lintian.output.toStdString() << lintian.errors.toStdString();
    EXPECT_FALSE(
        lintian.output.contains(QRegularExpression("^[EW]: ", QRegularExpression::MultilineOption)))
        << lintian.output.toStdString();
}

TEST_F(Package, InstallsTheProgramFolderWithALinkInBinAndTheDesktopFiles) {
    // bin/ holds a relative link, so the program's folder is the real one wherever the
    // package is unpacked.
    const QByteArray link = QFile::encodeName(Installed("/usr/bin/tessaline-row-porter"));
    char target[256] = {};
    ASSERT_GT(::readlink(link.constData(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../lib/tessaline-row-porter/tessaline-row-porter");
    EXPECT_TRUE(QFileInfo(Installed(kApplicationFolder + "/tessaline-row-porter")).isExecutable());

    QFile shipped_cursor(QStringLiteral(TRP_SOURCE_DIR "/resources/HAND-M.CUR"));
    ASSERT_TRUE(shipped_cursor.open(QIODevice::ReadOnly));
    QFile installed_cursor(Installed(kApplicationFolder + "/HAND-M.CUR"));
    ASSERT_TRUE(installed_cursor.open(QIODevice::ReadOnly));
    EXPECT_EQ(installed_cursor.readAll(), shipped_cursor.readAll());

    // The menu entry starts the linked program and shows an icon the package installs at
    // every size.
    QSettings entry(Installed("/usr/share/applications/" + kDesktopId + ".desktop"),
                    QSettings::IniFormat);
    entry.beginGroup("Desktop Entry");
    EXPECT_EQ(entry.value("Exec").toString(), "tessaline-row-porter");
    const QString icon = entry.value("Icon").toString();
    ASSERT_FALSE(icon.isEmpty());
    const QString hicolor = Installed("/usr/share/icons/hicolor");
    EXPECT_TRUE(QFileInfo::exists(hicolor + "/scalable/apps/" + icon + ".svg"));
    const QStringList sizes = QDir(hicolor).entryList({"*x*"}, QDir::Dirs);
    for (const QString& size : sizes) {
        const QImage image(hicolor + "/" + size + "/apps/" + icon + ".png");
        EXPECT_EQ(QStringLiteral("%1x%2").arg(image.width()).arg(image.height()), size);
    }
    EXPECT_EQ(sizes.size(), QDir(QStringLiteral(TRP_SOURCE_DIR "/resources/icons"))
                                .entryList({"tessaline-row-porter-*.png"}, QDir::Files)
                                .size());

    for (const char* document : {"/usr/share/man/man1/tessaline-row-porter.1.gz",
                                 "/usr/share/doc/tessaline-row-porter/copyright",
                                 "/usr/share/doc/tessaline-row-porter/changelog.gz"})
        EXPECT_TRUE(QFileInfo::exists(Installed(document))) << document;
}

TEST_F(Package, MenuEntryAndAppStreamMetadataValidate) {
    const QString desktop = Installed("/usr/share/applications/" + kDesktopId + ".desktop");
    const QString metainfo = Installed("/usr/share/metainfo/" + kDesktopId + ".metainfo.xml");
    Tool("desktop-file-validate", {desktop});
    Tool("appstreamcli", {"validate", "--no-net", metainfo});
    const QString metadata = ReadText(metainfo);
    EXPECT_TRUE(metadata.contains("<id>" + kDesktopId + "</id>"));
    EXPECT_TRUE(metadata.contains("<launchable type=\"desktop-id\">" + kDesktopId +
                                  ".desktop</launchable>"));
}

TEST_F(Package, ChangelogMetadataAndManualPageCarryTheProjectsVersion) {
    const QString changelog =
        Tool("gzip", {"-dc", Installed("/usr/share/doc/tessaline-row-porter/changelog.gz")});
    EXPECT_TRUE(changelog.startsWith("tessaline-row-porter (" + kVersion + ") "))
        << changelog.section('\n', 0, 0).toStdString();
    const QString metainfo =
        ReadText(Installed("/usr/share/metainfo/" + kDesktopId + ".metainfo.xml"));
    const QRegularExpressionMatch release =
        QRegularExpression(R"re(<release version="([^"]+)")re").match(metainfo);
    ASSERT_TRUE(release.hasMatch());
    EXPECT_EQ(release.captured(1), kVersion);
    const QString manual =
        Tool("gzip", {"-dc", Installed("/usr/share/man/man1/tessaline-row-porter.1.gz")});
    EXPECT_TRUE(manual.contains(
        QRegularExpression(QStringLiteral(R"(\n\.TH [^\n]*"Tessaline Row Porter %1")")
                               .arg(QRegularExpression::escape(kVersion)))));
}

TEST_F(Package, UnpackedProgramAnswersItsVersionThroughTheLink) {
    QTemporaryDir home;
    const test::ProgramResult version =
        test::RunProgram(Installed("/usr/bin/tessaline-row-porter"), {"--version"},
                         test::HeadlessEnvironment(home.path()));
    EXPECT_EQ(version.exit_code, 0) << version.errors.toStdString();
    EXPECT_EQ(version.output, "tessaline-row-porter " + kVersion + "\n");
}

// Watches a file for being read, through inotify: the kernel reports every read of it.
class ReadWatch {
public:
    explicit ReadWatch(const QString& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_ACCESS);
    }
    ~ReadWatch() { ::close(fd_); }
    ReadWatch(const ReadWatch&) = delete;
    ReadWatch& operator=(const ReadWatch&) = delete;

    bool WasRead(int bound_milliseconds) {
        const QDeadlineTimer deadline(bound_milliseconds);
        do {
            alignas(inotify_event) char buffer[4096];
            const ssize_t length = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_ACCESS) return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            pollfd ready{fd_, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
        } while (!deadline.hasExpired());
        return false;
    }

private:
    int fd_;
};

TEST_F(Package, UnpackedProgramShowsItsFirstScreenReadsItsCursorAndEndsOnSigterm) {
    // Started through bin/'s link, offscreen, with a home of its own: no saved profiles, so
    // the connection screen is the first screen.
    ReadWatch cursor(Installed(kApplicationFolder + "/HAND-M.CUR"));
    QTemporaryDir home;
    QProcessEnvironment environment = test::HeadlessEnvironment(home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    test::LogShownWindows(environment);
    test::RunningProgram program(Installed("/usr/bin/tessaline-row-porter"), {}, environment);

    ASSERT_TRUE(program.WaitForErrorText(test::ShownWindow("Form1")))
        << program.ErrorsSoFar().toStdString();
    // The cursor file was read from the real program folder the link leads to.
    EXPECT_TRUE(cursor.WasRead(60'000));
    const QString settings = home.filePath(".config/Kestrelby.conf");
    EXPECT_TRUE(ReadText(settings).contains("Server=localhost"));
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(settings).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    const test::ProgramResult ended = program.Terminate();
    EXPECT_TRUE(ended.exited);
    EXPECT_EQ(ended.exit_code, 0);
    // Nothing besides Qt's log of the windows and its note about a missing runtime folder.
    for (const QString& line : ended.errors.split('\n', Qt::SkipEmptyParts)) {
        EXPECT_TRUE(line.startsWith("qt.accessibility.cache: ") ||
                    line.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
            << line.toStdString();
    }
}

}  // namespace
}  // namespace trp
