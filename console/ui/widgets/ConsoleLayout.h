#pragma once

// The geometry and the pictures of a console window. Every rectangle of every strip element, section and
// box comes from here; the only thing that depends on the interface is its input count, which sets the
// width of the input section and so the x of everything to its right. The pictures are PNG images built
// into the program; the button faces are drawn once into images with the look and feel's face painters.
//
// Message thread only.

#include "device/HwInfoCaps.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace device
{
class vhw;
}

namespace console
{

// The program-wide pictures the widgets draw. Every layout construction loads the PNG images (the same
// ones each time) and draws the mute, solo, gang and nominal faces anew; the session faces are drawn only
// by the first. Each face is also in the image cache under its hash code.
struct ConsoleImages
{
    juce::Image stripBackground, knob, faderThumb, faderTrack, meterLit, meterUnlit;
    juce::Image playBackground, masterBackground, logo, soloBackground, soloLight;
    juce::Image midiBackground, midiLed, activityLights, trayIcon;
    juce::Image muteLit, muteUp, mutePressed;
    juce::Image soloLit, soloUp, soloPressed;
    juce::Image gangLit, gangUp, gangPressed;
    juce::Image nominalPlus4, nominalMinus10, nominalPressed;
    juce::Image saveUp, saveDown, loadUp, loadDown, resetUp, resetDown;
};

ConsoleImages& consoleImages();

// The hash codes of the faces in the image cache: four ASCII letters read big-endian.
namespace faceHash
{
inline constexpr juce::int64 muteUp = 0x6D746F66, muteLit = 0x6D746F6E, mutePressed = 0x6D74646E;
inline constexpr juce::int64 soloUp = 0x736C6F66, soloLit = 0x736C6F6E, soloPressed = 0x736C646E;
inline constexpr juce::int64 gangUp = 0x676E6F66, gangLit = 0x676E6F6E, gangPressed = 0x676E646E;
inline constexpr juce::int64 nominalPlus4 = 0x20202B34, nominalMinus10 = 0x202D3130,
                             nominalPressed = 0x6E6F6D64;
inline constexpr juce::int64 saveUp = 0x73766274, saveDown = 0x73766264;
inline constexpr juce::int64 loadUp = 0x6C646274, loadDown = 0x6C646264;
inline constexpr juce::int64 resetUp = 0x72736274, resetDown = 0x72736264;
} // namespace faceHash

// The rotary geometry of a pan knob.
struct KnobGeometry
{
    juce::Rectangle<int> bounds;
    float rotaryStart;
    float rotaryEnd;
    int valueBoxHeight;
    int valueBoxShift;
};

class ConsoleLayout
{
public:
    static constexpr int kMaxInputStrips = 16;
    static constexpr int kTabBarHeight = 30;
    static constexpr int kHeaderHeight = 41;
    static constexpr int kSessionBoxHeight = 114;
    static constexpr int kStripBoxTop = 137;
    static constexpr int kStripHeaderHeight = 23;

    explicit ConsoleLayout(const device::vhw& device);
    explicit ConsoleLayout(const device::HwInfoCaps& caps);
    ConsoleLayout(const ConsoleLayout&) = delete;
    ConsoleLayout& operator=(const ConsoleLayout&) = delete;

    const device::HwInfoCaps& getCaps() const { return caps_; }

    // Input strips shown: the input count, at most 16.
    int getInputStripCount() const { return inputs_; }
    // Whether input strip i starts a pair that has a gang button (an odd last strip has none).
    bool hasMonitorGang(int strip) const { return strip >= 0 && strip % 2 == 0 && strip + 1 < inputs_; }

    // --- window and sections ---
    int getStripWidth() const { return stripWidth_; }
    int getTopTabBarHeight() const { return kTabBarHeight; }
    int getPageWidth() const;
    juce::Rectangle<int> getPageBounds() const;
    juce::Point<int> getContentSize() const;
    juce::Rectangle<int> getInputSectionBounds() const;
    juce::Rectangle<int> getInputHeaderBounds() const;
    juce::Rectangle<int> getSessionBoxBounds() const;
    juce::Rectangle<int> getPlayHeaderBounds() const;
    juce::Rectangle<int> getPlayBoxBounds() const;
    juce::Rectangle<int> getLogoBounds() const;
    juce::Rectangle<int> getRudeSoloBounds() const;
    juce::Point<int> getMidiStatusPosition() const;
    juce::Rectangle<int> getMasterHeaderBounds() const;
    juce::Rectangle<int> getMasterBoxBounds() const;

    // --- session buttons, in the session box ---
    juce::Point<int> getLoadButtonPosition() const;
    juce::Point<int> getSaveButtonPosition() const;
    juce::Point<int> getResetButtonPosition() const;

    // --- input strip elements, in the strip ---
    juce::Rectangle<int> getInputLabelBounds() const;
    juce::Colour getInputLabelColour() const { return juce::Colours::white; }
    juce::Rectangle<int> getInputAliasBounds() const;
    juce::Rectangle<int> getInputNominalBounds() const;
    KnobGeometry getPanKnobGeometry() const;
    juce::Rectangle<int> getMonitorSoloBounds() const;
    juce::Rectangle<int> getMonitorMuteBounds() const;
    juce::Rectangle<int> getMonitorFaderBounds() const;
    juce::Rectangle<int> getMonitorFaderValueBox() const;
    float getMonitorFaderValueFontHeight() const { return 12.5f; }
    juce::Rectangle<int> getInputMeterBounds() const;
    // In the input section, before the pair's shift; getMonitorGangBounds(pair) adds it.
    juce::Rectangle<int> getMonitorGangBounds() const;
    juce::Rectangle<int> getMonitorGangBounds(int pair) const;

    // --- output and playback strip elements, in the two-strip box (k = 0 or 1) ---
    juce::Rectangle<int> getMasterUpperLabelBounds(int k) const;
    juce::Rectangle<int> getOutputNominalBounds(int k) const;
    juce::Rectangle<int> getMuteBounds(int k) const;
    juce::Rectangle<int> getPlaySoloBounds(int k) const;
    juce::Rectangle<int> getAliasBounds(int k) const;
    juce::Rectangle<int> getMasterFaderBounds(int k) const;
    juce::Rectangle<int> getPlayFaderBounds(int k) const;
    juce::Rectangle<int> getMasterFaderValueBox(int k) const;
    juce::Rectangle<int> getPlayFaderValueBox(int k) const;
    juce::Rectangle<int> getOutputMeterBounds(int k) const;
    juce::Rectangle<int> getMasterGangBounds() const;
    juce::Rectangle<int> getPlayGangBounds() const;
    juce::Rectangle<int> getPlayLabelBounds() const;

    // --- other services ---
    void getFaderRange(double& maximum, double& minimum) const;
    void applyStripLabelFont(juce::Label& label) const;
    void stylePlayLabel(juce::Label& label) const;
    void setAliasColours(juce::Label& label) const;
    void setValueBoxColours(juce::Label& label) const;
    juce::Point<int> getRudeSoloLightPosition() const { return {8, 6}; }
    juce::Point<int> getMidiInLedPosition() const { return {8, 6}; }
    juce::Point<int> getMidiOutLedPosition() const { return {8, 26}; }
    // The MIDI indicator's background and LED (the same LED for input and output).
    void loadMidiStatusImages(juce::Image& background, juce::Image& inLed, juce::Image& outLed) const;

    // Sizes of the pictures the geometry is computed from.
    juce::Rectangle<int> getNominalFaceSize() const { return {0, 0, 46, 23}; }
    juce::Rectangle<int> getMeterSize() const { return {0, 0, 10, 192}; }

private:
    void loadImages();

    device::HwInfoCaps caps_;
    int inputs_ = 0;
    int stripWidth_ = 54;
    int stripHeight_ = 465;
};

} // namespace console
