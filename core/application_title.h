#pragma once

#include <QString>

namespace velmoran {

// The title that message boxes and input boxes show when they give none of their own.
// Set once at start-up; empty until then.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// The product name cut before its last blank, again while longer than 40 characters;
// the cut is made at least once.
QString applicationTitleFromProductName(const QString& productName);

inline constexpr char16_t ProductName[] = u"Velmoran Software";

} // namespace velmoran
