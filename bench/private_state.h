#pragma once

#include <QTemporaryDir>
#include <QtGlobal>
#include <stdexcept>

namespace trp::bench {

// Rows a run refuses are kept under XDG_STATE_HOME: while this lives, that is a folder of the
// benchmark's own (which child processes inherit), removed at the end, never the user's.
class PrivateStateFolder {
public:
    PrivateStateFolder() {
        if (!folder_.isValid()) throw std::runtime_error("no temporary folder for the state");
        qputenv("XDG_STATE_HOME", folder_.path().toLocal8Bit());
    }

private:
    QTemporaryDir folder_;
};

}  // namespace trp::bench
