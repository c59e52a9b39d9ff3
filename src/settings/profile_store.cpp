#include "settings/profile_store.h"

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

QString ProfileStore::UserFilePath() {
    return UserStorePath();
}

ProfileStore::ProfileStore(QString file_path) : file_path_(std::move(file_path)) {
    KeepPrivate();
}

void ProfileStore::KeepPrivate() const {
    QDir().mkpath(QFileInfo(file_path_).absolutePath());
    constexpr QFileDevice::Permissions kOwnerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    // Created with 0600 from the start, so that the passwords are never readable by others, not
    // even for a moment; the settings writer keeps the mode of an existing file.
    QFile file(file_path_);
    if (!file.open(QIODevice::Append, kOwnerOnly)) return;
    // The owner's, group's and others' bits only: the "user" flags say what this process may do.
    constexpr QFileDevice::Permissions kModeBits =
        ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    if ((file.permissions() & kModeBits) != kOwnerOnly) file.setPermissions(kOwnerOnly);
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
