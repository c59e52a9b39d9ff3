#include "settings/profile_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "base/product_name.h"

namespace trp {
namespace {

const QString kSection = QString::fromUtf8(kProductName);

// ~/.config/Kestrelby.conf (or under $XDG_CONFIG_HOME): the native user path of organisation
// "Kestrelby", which on Linux is an INI file; it is read and written as one below.
QString UserStorePath() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrelby"))
        .fileName();
}

}  // namespace

ProfileStore::ProfileStore() : ProfileStore(UserStorePath()) {}

ProfileStore::ProfileStore(QString file_path) : file_path_(std::move(file_path)) {
    KeepPrivate();
}

void ProfileStore::KeepPrivate() const {
    QDir().mkpath(QFileInfo(file_path_).absolutePath());
    const QByteArray path = QFile::encodeName(file_path_);
    // Created with 0600 from the start, so that the passwords are never readable by others, not
    // even for a moment; the settings writer keeps the mode of an existing file.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat status {};
        if (::fstat(fd, &status) == 0 && (status.st_mode & 07777) != 0600) ::fchmod(fd, 0600);
        ::close(fd);
    }
}

QString ProfileStore::Get(const QString& key, const QString& default_value) const {
    QSettings settings(file_path_, QSettings::IniFormat);
    settings.beginGroup(kSection);
    if (!settings.contains(key)) return default_value;
    const QVariant value = settings.value(key);
    // A hand-edited line with unquoted commas reads back as a list; keep its text whole.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool ProfileStore::Save(const QString& key, const QString& value) {
    KeepPrivate();
    QSettings settings(file_path_, QSettings::IniFormat);
    settings.beginGroup(kSection);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace trp
