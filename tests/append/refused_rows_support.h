#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>
#include <stdexcept>
#include <string>

namespace trp::test {

// XDG_STATE_HOME as a test sets it, restored when the test ends.
class StateHome {
public:
    explicit StateHome(const QString& path)
        : was_set_(qEnvironmentVariableIsSet("XDG_STATE_HOME")),
          before_(qgetenv("XDG_STATE_HOME")) {
        qputenv("XDG_STATE_HOME", path.toLocal8Bit());
    }
    ~StateHome() {
        if (was_set_)
            qputenv("XDG_STATE_HOME", before_);
        else
            qunsetenv("XDG_STATE_HOME");
    }

private:
    bool was_set_;
    QByteArray before_;
};

// A file's whole content.
inline std::string ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll().toStdString();
}

}  // namespace trp::test
