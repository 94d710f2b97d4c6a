// The console program's entry: the framework's application main with the console's application object.

#include "console/ConsoleApp.h"

START_JUCE_APPLICATION(console::ConsoleApp)
