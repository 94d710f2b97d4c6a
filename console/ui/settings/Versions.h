#pragma once

// "Version information": the group of the About window that names each piece of the system with its
// version, as it is when the window opens: the kernel driver's version asked from the driver, the ASIO
// driver's file version (its file in the system folder), the console's own file version, and the
// device's firmware versions from the capability record. Its text is what the About window copies to
// the clipboard.
//
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>

namespace device
{
class vhw;
}

namespace console
{

// The ASIO driver's file name in the system folder.
inline constexpr const char* kAsioDriverFileName = "ASIOStrellis.so";

class StVersions : public juce::GroupComponent
{
public:
    static constexpr int kRows = 5;

    // Reads the versions, makes its labels and adds itself (220 x 170) to the About window's content,
    // which places it. A row whose value cannot be had (the ASIO driver's without a system folder) has
    // no value label; a file without a version has an empty one.
    StVersions(const device::vhw& device, juce::Component& aboutContent);

    // The table as text (what the About window copies): one line per row, "<name> <value>\r\n", the
    // value empty when the row has none. (The group's title is juce::GroupComponent::getText.)
    juce::String getText() const;

    const juce::Label& getNameLabel(int row) const { return *names_[size_t(row)]; }
    // Null when the row has no value.
    const juce::Label* getValueLabel(int row) const { return values_[size_t(row)].get(); }

private:
    void addNameLabel(int row, const juce::String& text);
    void addValueLabel(int row, const juce::String& text);

    std::array<std::unique_ptr<juce::Label>, kRows> names_;
    std::array<std::unique_ptr<juce::Label>, kRows> values_;
};

} // namespace console
