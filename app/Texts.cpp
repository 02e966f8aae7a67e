#include "app/Texts.h"

namespace texts {

// The window, its rows and the report.

// Device facts, hints, the settings page and the About window.

}  // namespace texts
