#pragma once
// Texts: every text that Talvik shows its users, one constant or function each. The layers below
// hand up facts and codes; only this catalogue puts them into words. Qt-free, so that the window
// and talvik-scan word things alike.

#include <string>

namespace texts {

// The window, its rows and the report.

// Device facts, hints, the settings page and the About window.

}  // namespace texts
