#pragma once

// Message boxes. Every box first writes one debug line with its title and text, so a run can be checked
// from its debug log; then the installed presenter shows it (the GUI programs install one that opens a
// modal alert window). Without a presenter the box answers its default button.

#include <functional>
#include <string>

namespace platform
{

// Button sets and answers, with their Windows values.
enum : int
{
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40
};
enum : int
{
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7
};

// Shows a box and answers the button pressed (IDOK, IDCANCEL, IDYES, IDNO).
int messageBox(const std::string& title, const std::string& text, int type = MB_OK);

using MessageBoxPresenter = std::function<int(const std::string& title, const std::string& text, int type)>;

// Installs the presenter (an empty function removes it). Returns the previous one.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);

} // namespace platform
