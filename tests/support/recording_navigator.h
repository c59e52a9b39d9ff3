#pragma once

#include <stdexcept>

#include "ui/navigator.h"

namespace trp::test {

// The way out of a table selection screen tested on its own: it counts the requests to show the
// connection screen.
class RecordingNavigator : public Navigator {
public:
    TableSelection& TableSelectionScreen() override {
        throw std::logic_error("the table selection screen asked for itself");
    }
    void ShowConnectionScreen() override { ++connection_screen_shown; }

    int connection_screen_shown = 0;
};

}  // namespace trp::test
