#pragma once

#include <QString>

namespace trp {

// The per-user settings store of the two profiles: application "Kestrelby", section
// "Tessaline Row Porter Suite", one string per key, in an INI file. The file is kept readable and
// writable by its owner only, since it holds the passwords in clear text.
class ProfileStore {
public:
    // The user's own store: ~/.config/Kestrelby.conf (or under $XDG_CONFIG_HOME).
    ProfileStore();
    // A store in the given file (the demo mode and the tests keep theirs apart).
    explicit ProfileStore(QString file_path);

    // The stored text, or `default_value` when the key is absent (an empty text is not absent).
    QString Get(const QString& key, const QString& default_value) const;
    // Writes the text at once; an earlier value is replaced. Returns false when the file could
    // not be written (the caller has nobody to tell; the field keeps its text).
    bool Save(const QString& key, const QString& value);

    const QString& FilePath() const { return file_path_; }
    // The file of the user's own store, without opening it.
    static QString UserFilePath();

private:
    // Creates the file with mode 0600 if it is missing, and narrows a looser mode to 0600.
    void KeepPrivate() const;

    QString file_path_;
};

}  // namespace trp
