#pragma once

#include <QListWidgetItem>

#include "catalogue/table_listing.h"

class QListWidget;

namespace trp {

// A table in a sorted list, in the order every list of tables follows (ListedBefore). It keeps
// the table's identity, which later steps use instead of its text.
class TableNameItem : public QListWidgetItem {
public:
    explicit TableNameItem(const ListedTable& table);
    bool operator<(const QListWidgetItem& other) const override;
    // The table the item stands for.
    static ListedTable TableOf(const QListWidgetItem& item);
};

// The table listing's target over a list control of a screen.
class ListWidgetTarget : public ListTarget {
public:
    explicit ListWidgetTarget(QListWidget& list) : list_(list) {}
    void Clear() override;
    void AddItem(const ListedTable& table) override;

private:
    QListWidget& list_;
};

}  // namespace trp
