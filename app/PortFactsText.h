#pragma once
// What the device world knows of a port, as the row's tool tip, the settings page and
// talvik-scan show it: where the port lives, who holds it, why it may not be opened, and what
// the user can do about it, in the catalogue's words.

#include <string>
#include <utility>
#include <vector>

#include "platform/Additions.h"

using TFactLines = std::vector<std::pair<std::string, std::string>>;

// The device node, its /dev/serial/by-id name, driver, USB IDs and serial number, where known;
// and the device world's own description of the device (the bench's).
TFactLines DeviceFactLines(const win::PortFacts& facts);
// Who holds the port or why it may not be opened, and what to do about it.
TFactLines StatusFactLines(const win::PortFacts& facts);
// Both, one "label: value" per line.
std::string PortToolTip(const win::PortFacts& facts);

// The program's name (or "another program"), with its PID and user where known.
std::string HolderText(const win::PortHolder& holder);
// Who holds the port, in a few words; empty when nobody is known to.
std::string HolderSummary(const win::PortFacts& facts);
