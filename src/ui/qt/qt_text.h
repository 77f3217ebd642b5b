// Texts as Qt takes them: UTF-8 from the catalog or from the core.
#pragma once

#include <QString>
#include <string>

#include "panel/text_catalog.h"

namespace ui::qt {

inline QString Utf8(const std::string& text) { return QString::fromStdString(text); }
inline QString Catalog(panel::TextId id) { return QString::fromUtf8(panel::Text(id)); }

}  // namespace ui::qt
