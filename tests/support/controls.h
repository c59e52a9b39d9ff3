#pragma once

#include <QString>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace trp::test {

// A control of a screen, found by its name (Text1, PushButton2, List1, …) as the user knows it
// from the screen; a missing one fails the test with its name.
template <typename T = QWidget>
T* Control(const QWidget& screen, const char* name) {
    T* control = screen.findChild<T*>(QString::fromLatin1(name));
    if (!control) throw std::runtime_error(std::string("no control ") + name);
    return control;
}

}  // namespace trp::test
