#pragma once
// AppSerialDisplayAdvancedSettings and RegisterAdvancedSettingsPage: the application's own
// advanced-settings page of a port, offered as msports.dll's SerialDisplayAdvancedSettings where
// the system has no such library.

#include "platform/Additions.h"

class QWidget;

// Registers the page unless the system already offers one. `owner` is the window the modal
// page is shown over (it may go away; the page then has no owner).
void RegisterAdvancedSettingsPage(QWidget* owner);

// Shows the device's name, description and what the device world knows of it in a modal
// dialog, with the settings the world can change (applied on OK); returns 0 when it was shown.
win::LONG AppSerialDisplayAdvancedSettings(win::HWND parent, win::HDEVINFO list,
                                           win::PSP_DEVINFO_DATA data);
