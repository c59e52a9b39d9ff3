#pragma once

#include <QListWidget>
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

// Selects the item of the list `list_name` that reads `text` exactly, as a user picks a table;
// false unless exactly one item reads so.
inline bool SelectItem(const QWidget& screen, const char* list_name, const char* text) {
    const auto items = Control<QListWidget>(screen, list_name)
                           ->findItems(QString::fromUtf8(text), Qt::MatchExactly);
    if (items.size() != 1) return false;
    items.front()->setSelected(true);
    return true;
}

}  // namespace trp::test
