// Sample installer wizard of the demo payload. Windows build only.
//
// The bootstrapper carries this program as its wizard (resource 104,
// "Varnhold.InstallerWizard.UI.exe"), unpacks it beside the rest of the payload and
// starts it there with the composed wizard command line. A real product ships a .NET
// wizard in its place; this one stands in for it so that the demo and the end-to-end
// tests run without a .NET Framework. For now it only ends with exit code 0, which the
// bootstrapper reports as a successful installation.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return 0;
}
