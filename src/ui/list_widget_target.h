#pragma once

#include <QListWidgetItem>

#include "catalogue/table_listing.h"

class QListWidget;

namespace trp {

// A table name in a sorted list: alphabetical regardless of letter case (so "Orders" sits
// beside "orders_2020"), names that differ only in case ordered upper case first. The order
// does not depend on the user's locale settings.
class TableNameItem : public QListWidgetItem {
public:
    explicit TableNameItem(const QString& text) : QListWidgetItem(text, nullptr, UserType) {}
    bool operator<(const QListWidgetItem& other) const override;
};

// The table listing's target over a list control of a screen.
class ListWidgetTarget : public ListTarget {
public:
    explicit ListWidgetTarget(QListWidget& list) : list_(list) {}
    void Clear() override;
    void AddItem(const std::string& text) override;

private:
    QListWidget& list_;
};

}  // namespace trp
