#include "ui/list_widget_target.h"

#include <QListWidget>

namespace trp {
namespace {

constexpr int kSchemaRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;

}  // namespace

TableNameItem::TableNameItem(const ListedTable& table)
    : QListWidgetItem(QString::fromStdString(table.text), nullptr, UserType) {
    setData(kSchemaRole, QString::fromStdString(table.table.schema));
    setData(kNameRole, QString::fromStdString(table.table.name));
}

bool TableNameItem::operator<(const QListWidgetItem& other) const {
    return ListedBefore(text().toStdString(), other.text().toStdString());
}

ListedTable TableNameItem::TableOf(const QListWidgetItem& item) {
    // An item made elsewhere (a test's, say) stands for its bare name.
    if (item.type() != UserType) return ListedTable(item.text().toStdString());
    return ListedTable(item.text().toStdString(),
                       TableName{item.data(kSchemaRole).toString().toStdString(),
                                 item.data(kNameRole).toString().toStdString()});
}

void ListWidgetTarget::Clear() {
    list_.clear();
}

void ListWidgetTarget::AddItem(const ListedTable& table) {
    // The list takes ownership; a sorting list puts the item in its place.
    list_.addItem(new TableNameItem(table));
}

}  // namespace trp
