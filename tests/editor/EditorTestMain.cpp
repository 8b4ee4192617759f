#include "GuiTestMain.h"

int main (int argc, char** argv)
{
    return ktotest::runGuiTests (argc, argv);
}
