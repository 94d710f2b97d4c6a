#include "console/ui/settings/Versions.h"

#include "console/core/Firmware.h"
#include "device/HwInfoCaps.h"
#include "device/Text.h"
#include "device/Vhw.h"
#include "platform/KnownFolders.h"

namespace console
{
namespace
{

constexpr int kFirstRowY = 20;
constexpr int kRowPitch = 22;
constexpr uint32_t kSystemFolderBuffer = 261;

void styleLabel(juce::Label& label)
{
    label.setFont(juce::Font(14.0f, juce::Font::bold));
}

// The file version of a file as text; empty when it has none.
juce::String fileVersion(const juce::String& path)
{
    juce::String text;
    getFileVersionText(path, text);
    return text;
}

} // namespace

StVersions::StVersions(const device::vhw& device, juce::Component& aboutContent)
    : juce::GroupComponent("versions", "Version information")
{
    setSize(220, 170);
    aboutContent.addAndMakeVisible(this);

    const device::HwInfoCaps& caps = device.getCaps();
    const bool fpga = caps.hasFpga();
    const char* names[kRows] = {"WDM driver", "ASIO driver", "Console", "ARM firmware",
                                fpga ? "FPGA" : "DSP firmware"};
    for (int row = 0; row < kRows; ++row)
        addNameLabel(row, names[row]);

    addValueLabel(0, firmwareVersionText(device.getDriverVersion()));
    // Only the ASIO driver's row needs the system folder: without one the other rows are still shown.
    char folder[kSystemFolderBuffer];
    const uint32_t length = platform::getSystemDirectory(folder, sizeof folder);
    if (length != 0 && length < sizeof folder)
        addValueLabel(1, fileVersion(device::textFromBytes(folder, length) + "/" + kAsioDriverFileName));
    addValueLabel(
        2, fileVersion(juce::File::getSpecialLocation(juce::File::currentExecutableFile).getFullPathName()));
    addValueLabel(3, juce::String(device::formatFirmwareVersion(caps.getArmVersion())));
    addValueLabel(
        4, juce::String(device::formatFirmwareVersion(fpga ? caps.getFpgaVersion() : caps.getDspVersion())));
}

void StVersions::addNameLabel(int row, const juce::String& text)
{
    auto label = std::make_unique<juce::Label>("version L", text);
    label->setBounds(26, kFirstRowY + kRowPitch * row, 100, 20);
    styleLabel(*label);
    addAndMakeVisible(*label);
    names_[size_t(row)] = std::move(label);
}

void StVersions::addValueLabel(int row, const juce::String& text)
{
    auto label = std::make_unique<juce::Label>("version R", text);
    label->setBounds(136, kFirstRowY + kRowPitch * row, 70, 20);
    styleLabel(*label);
    addAndMakeVisible(*label);
    values_[size_t(row)] = std::move(label);
}

juce::String StVersions::getText() const
{
    juce::String text;
    for (int row = 0; row < kRows; ++row)
    {
        text << names_[size_t(row)]->getText() << " ";
        if (values_[size_t(row)] != nullptr)
            text << values_[size_t(row)]->getText();
        text << "\r\n";
    }
    return text;
}

} // namespace console
