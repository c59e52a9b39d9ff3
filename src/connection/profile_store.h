#pragma once

#include <QString>

namespace trp {

// The per-user settings store of the two profiles: application "Kestrelby", section
// "Tessaline Row Porter Suite", one string per key. The file is kept readable by its owner only,
// since it holds the passwords.
class ProfileStore {
public:
    // The user's own store, under the XDG configuration directory.
    ProfileStore();
    // A store in the given file (the demo mode and the tests keep theirs apart).
    explicit ProfileStore(QString file_path);

    // The stored text, or `default_value` when the key is absent (an empty text is not absent).
    QString Get(const QString& key, const QString& default_value) const;
    // Writes the text at once; an earlier value is replaced.
    void Save(const QString& key, const QString& value);

    const QString& FilePath() const { return file_path_; }

private:
    QString file_path_;
};

}  // namespace trp
