#include "ui/list_widget_target.h"

#include <QListWidget>

namespace trp {

bool TableNameItem::operator<(const QListWidgetItem& other) const {
    const QString mine = text();
    const QString theirs = other.text();
    const int folded = mine.compare(theirs, Qt::CaseInsensitive);
    if (folded != 0) return folded < 0;
    return mine.compare(theirs, Qt::CaseSensitive) < 0;
}

void ListWidgetTarget::Clear() {
    list_.clear();
}

void ListWidgetTarget::AddItem(const std::string& text) {
    // The list takes ownership; a sorting list puts the item in its place.
    list_.addItem(new TableNameItem(QString::fromStdString(text)));
}

}  // namespace trp
