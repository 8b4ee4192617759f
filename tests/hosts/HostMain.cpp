// Entry point of the host tests: a JUCE application with an X server of its own, so that the
// plug-ins' editors can open in real windows.
#include "GuiTestMain.h"
#include "HostedPlugin.h"

int main (int argc, char** argv)
{
    return ktotest::runGuiTests (argc, argv, [] { kto::host::shutDownFormats(); });
}
