// The console program's entry: the framework's application main with the console's application object.

#include "console/ui/app/ConsoleApp.h"
#include "platform/VersionBlock.h"

// The console's file version, shown on its version page.
STRELLIS_FILE_VERSION_BLOCK(4, 8, 0, 0);

START_JUCE_APPLICATION(console::ConsoleApp)
