#pragma once

// Shows the platform's message boxes as modal JUCE alert windows. The platform writes the box's debug
// line first; this presenter only shows the box and answers the button pressed.

#include "platform/MessageBox.h"

namespace console
{

// The presenter: a modal alert window with the box's title, text, icon and buttons ("OK"; "OK" and
// "Cancel"; "Yes" and "No"). It must be called on the message thread; called elsewhere it shows nothing
// and answers the cautious button (Cancel, No or OK).
platform::MessageBoxPresenter makeJuceMessageBoxPresenter();

// Installs that presenter; returns the one it replaces.
platform::MessageBoxPresenter installJuceMessageBoxPresenter();

} // namespace console
