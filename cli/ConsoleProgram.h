#pragma once
// SetUpConsoleProgram: talvik-scan runs the window's controller without ever showing the window,
// on a Qt platform that needs no display, and writes UTF-8. Where the console has a code page of
// its own (Windows), it is set to UTF-8 until the program ends, so that Russian texts show as
// written. Call before the Qt application is made.

void SetUpConsoleProgram();
