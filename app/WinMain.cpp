// The dialog program, velinor-dialog.exe: a window and no console.
#include <windows.h>

#include "app/CVelinorApp.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR commandLine,
                   int /*show*/) {
    CVelinorApp app;
    app.ParseCommandLine(commandLine ? commandLine : "");
    app.InitInstance();
    return 0;
}
