#pragma once

#include <QString>

namespace pagetool {

// A release page that every reader accepts, laid out as the maker's web
// editor writes it; a starting point for a real page.
QString samplePage();

} // namespace pagetool
