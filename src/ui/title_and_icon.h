#pragma once

#include <QIcon>
#include <QString>

// The application folder, FileExists and the hand cursor.
#include "base/product_name.h"
#include "ui/hand_cursor.h"

namespace trp {

// The product name cut at its last blank, then again while longer than 40 characters. Throws
// std::invalid_argument when no blank is left to cut at.
QString ShortenTitle(const QString& name);
// Makes the shortened product name the application title ("Tessaline Row Porter").
void SetAppTitle();

// The one window icon of both screens.
QIcon ApplicationIcon();

}  // namespace trp
