#include "console/ui/widgets/ConsoleLayout.h"

#include "ConsoleImageData.h"
#include "console/ui/widgets/ButtonFaces.h"
#include "device/Vhw.h"

#include <algorithm>

namespace console
{
namespace
{

juce::Image load(const void* data, int size)
{
    return juce::ImageCache::getFromMemory(data, size);
}

juce::Image face(int width, int height)
{
    return juce::Image(juce::Image::ARGB, width, height, true);
}

void publish(juce::Image& slot, const juce::Image& image, juce::int64 hash)
{
    slot = image;
    juce::ImageCache::addImageToCache(image, hash);
}

} // namespace

ConsoleImages& consoleImages()
{
    static ConsoleImages images;
    return images;
}

ConsoleLayout::ConsoleLayout(const device::vhw& device) : ConsoleLayout(device.getCaps()) {}

ConsoleLayout::ConsoleLayout(const device::HwInfoCaps& caps)
    : caps_(caps), inputs_(int(std::min<uint32_t>(caps.getInputCount(), kMaxInputStrips)))
{
    loadImages();
    stripWidth_ = consoleImages().stripBackground.getWidth();
    stripHeight_ = consoleImages().stripBackground.getHeight();
}

void ConsoleLayout::loadImages()
{
    using namespace ConsoleImageData;
    ConsoleImages& im = consoleImages();
    im.stripBackground = load(strip_background_png, strip_background_pngSize);
    im.knob = load(knob_filmstrip_png, knob_filmstrip_pngSize);

    auto drawToggleFaces = [](juce::Image& up, juce::Image& lit, juce::Image& pressed, int w, int h,
                              const char* text, juce::Colour tint, juce::Colour tintText, juce::int64 upHash,
                              juce::int64 litHash, juce::int64 pressedHash)
    {
        juce::Image l = face(w, h);
        paintTintedButtonFace(l, tint, tintText, text);
        juce::Image u = face(w, h);
        paintButtonFace(u, text);
        juce::Image p = face(w, h);
        paintPressedButtonFace(p, text);
        publish(lit, l, litHash);
        publish(up, u, upHash);
        publish(pressed, p, pressedHash);
    };
    drawToggleFaces(im.muteUp, im.muteLit, im.mutePressed, 46, 19, "Mute",
                    juce::Colour(200, 200, 0).withAlpha(0.25f), juce::Colours::yellow, faceHash::muteUp,
                    faceHash::muteLit, faceHash::mutePressed);
    drawToggleFaces(im.soloUp, im.soloLit, im.soloPressed, 46, 19, "Solo",
                    juce::Colour(200, 0, 0).withAlpha(0.25f), juce::Colours::red, faceHash::soloUp,
                    faceHash::soloLit, faceHash::soloPressed);

    const struct
    {
        juce::Image* slot;
        const char* text;
        juce::int64 hash;
    } nominal[3] = {{&im.nominalPlus4, "+4", faceHash::nominalPlus4},
                    {&im.nominalMinus10, "-10", faceHash::nominalMinus10},
                    {&im.nominalPressed, "", faceHash::nominalPressed}};
    for (const auto& n : nominal)
    {
        juce::Image image = face(46, 23);
        paintButtonFace(image, n.text);
        publish(*n.slot, image, n.hash);
    }

    im.faderThumb = load(fader_thumb_png, fader_thumb_pngSize);
    im.faderTrack = load(fader_track_png, fader_track_pngSize);
    im.meterLit = load(meter_lit_png, meter_lit_pngSize);
    im.meterUnlit = load(meter_unlit_png, meter_unlit_pngSize);
    im.playBackground = load(playback_background_png, playback_background_pngSize);
    im.masterBackground = load(master_background_png, master_background_pngSize);
    drawToggleFaces(im.gangUp, im.gangLit, im.gangPressed, 44, 17, "Gang",
                    juce::Colour(0, 200, 0).withAlpha(0.4f), juce::Colour(0, 255, 0), faceHash::gangUp,
                    faceHash::gangLit, faceHash::gangPressed);
    im.logo = load(logo_png, logo_pngSize);
    im.soloBackground = load(solo_background_png, solo_background_pngSize);
    im.soloLight = load(solo_light_png, solo_light_pngSize);
    im.midiBackground = load(midi_background_png, midi_background_pngSize);
    im.midiLed = load(midi_led_png, midi_led_pngSize);
    im.activityLights = load(activity_lights_png, activity_lights_pngSize);
    im.trayIcon = load(tray_icon_png, tray_icon_pngSize);

    const struct
    {
        juce::Image* slot;
        const char* text;
        bool pressed;
        juce::int64 hash;
    } session[6] = {{&im.saveUp, "Save", false, faceHash::saveUp},
                    {&im.saveDown, "Save", true, faceHash::saveDown},
                    {&im.loadUp, "Load", false, faceHash::loadUp},
                    {&im.loadDown, "Load", true, faceHash::loadDown},
                    {&im.resetUp, "Reset", false, faceHash::resetUp},
                    {&im.resetDown, "Reset", true, faceHash::resetDown}};
    for (const auto& s : session)
    {
        if (s.slot->isValid())
            continue;
        juce::Image image = face(60, 25);
        if (s.pressed)
            paintPressedButtonFace(image, s.text);
        else
            paintButtonFace(image, s.text);
        publish(*s.slot, image, s.hash);
    }
}

// --- window and sections ---

int ConsoleLayout::getPageWidth() const
{
    const ConsoleImages& im = consoleImages();
    return inputs_ * stripWidth_ + im.playBackground.getWidth() + im.masterBackground.getWidth();
}

juce::Rectangle<int> ConsoleLayout::getPageBounds() const
{
    return {0, kTabBarHeight, getPageWidth(), stripHeight_ + kHeaderHeight};
}

juce::Point<int> ConsoleLayout::getContentSize() const
{
    return {getPageWidth(), stripHeight_ + kHeaderHeight + kTabBarHeight};
}

juce::Rectangle<int> ConsoleLayout::getInputSectionBounds() const
{
    return {0, 0, inputs_ * stripWidth_, stripHeight_ + kHeaderHeight};
}

juce::Rectangle<int> ConsoleLayout::getInputHeaderBounds() const
{
    return {0, 0, inputs_ * stripWidth_, kHeaderHeight};
}

juce::Rectangle<int> ConsoleLayout::getSessionBoxBounds() const
{
    const ConsoleImages& im = consoleImages();
    const int play = im.playBackground.getWidth();
    return {getPageWidth() - im.masterBackground.getWidth() - play, 0, play, kSessionBoxHeight};
}

juce::Rectangle<int> ConsoleLayout::getPlayHeaderBounds() const
{
    return {inputs_ * stripWidth_, kSessionBoxHeight, consoleImages().playBackground.getWidth(),
            kStripHeaderHeight};
}

juce::Rectangle<int> ConsoleLayout::getPlayBoxBounds() const
{
    const juce::Image& bg = consoleImages().playBackground;
    return {inputs_ * stripWidth_, kStripBoxTop, bg.getWidth(), bg.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getLogoBounds() const
{
    const juce::Image& logo = consoleImages().logo;
    return {getPageWidth() - consoleImages().masterBackground.getWidth(), 0, logo.getWidth(),
            logo.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getRudeSoloBounds() const
{
    const ConsoleImages& im = consoleImages();
    return {getPageWidth() - im.masterBackground.getWidth(), im.logo.getHeight(),
            im.soloBackground.getWidth(), im.soloBackground.getHeight()};
}

juce::Point<int> ConsoleLayout::getMidiStatusPosition() const
{
    const ConsoleImages& im = consoleImages();
    return {getPageWidth() - im.masterBackground.getWidth(),
            im.logo.getHeight() + im.soloBackground.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getMasterHeaderBounds() const
{
    const int w = consoleImages().masterBackground.getWidth();
    return {getPageWidth() - w, kSessionBoxHeight, w, kStripHeaderHeight};
}

juce::Rectangle<int> ConsoleLayout::getMasterBoxBounds() const
{
    const juce::Image& bg = consoleImages().masterBackground;
    return {getPageWidth() - bg.getWidth(), kStripBoxTop, bg.getWidth(), bg.getHeight()};
}

// --- session buttons ---

juce::Point<int> ConsoleLayout::getLoadButtonPosition() const
{
    const ConsoleImages& im = consoleImages();
    return {(im.playBackground.getWidth() - im.saveUp.getWidth()) / 2,
            (kSessionBoxHeight - 3 * im.loadUp.getHeight()) / 2};
}

juce::Point<int> ConsoleLayout::getSaveButtonPosition() const
{
    return getLoadButtonPosition() + juce::Point<int>(0, consoleImages().loadUp.getHeight());
}

juce::Point<int> ConsoleLayout::getResetButtonPosition() const
{
    return getSaveButtonPosition() + juce::Point<int>(0, consoleImages().saveUp.getHeight());
}

// --- input strip elements ---

juce::Rectangle<int> ConsoleLayout::getInputLabelBounds() const
{
    return {3, 3, stripWidth_ - 3, 12};
}

juce::Rectangle<int> ConsoleLayout::getInputAliasBounds() const
{
    return {(stripWidth_ - 48) / 2 + 2, 20, 48, 18};
}

juce::Rectangle<int> ConsoleLayout::getInputNominalBounds() const
{
    return getNominalFaceSize().withPosition(7, 40);
}

KnobGeometry ConsoleLayout::getPanKnobGeometry() const
{
    const int knobWidth = consoleImages().knob.getWidth();
    constexpr float pi = juce::MathConstants<float>::pi;
    return {{(stripWidth_ - knobWidth) / 2 + 1, 76, knobWidth, 59}, 1.25f * pi, 2.75f * pi, 10, 0};
}

juce::Rectangle<int> ConsoleLayout::getMonitorSoloBounds() const
{
    return {7, 140, 46, 19};
}

juce::Rectangle<int> ConsoleLayout::getMonitorMuteBounds() const
{
    return {7, 163, 46, 19};
}

juce::Rectangle<int> ConsoleLayout::getMonitorFaderBounds() const
{
    return {12, 192, 36, consoleImages().faderTrack.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getMonitorFaderValueBox() const
{
    return {15, 413, 28, 16};
}

juce::Rectangle<int> ConsoleLayout::getInputMeterBounds() const
{
    return getMeterSize().withPosition(8, 203);
}

juce::Rectangle<int> ConsoleLayout::getMonitorGangBounds() const
{
    return {34, 484, 44, 17};
}

juce::Rectangle<int> ConsoleLayout::getMonitorGangBounds(int pair) const
{
    return getMonitorGangBounds().translated(pair * 2 * stripWidth_, 0);
}

// --- output and playback strip elements ---

juce::Rectangle<int> ConsoleLayout::getMasterUpperLabelBounds(int k) const
{
    return {k * stripWidth_ + 10, 2, stripWidth_ - 16, 12};
}

juce::Rectangle<int> ConsoleLayout::getOutputNominalBounds(int k) const
{
    return getNominalFaceSize().withPosition(k * stripWidth_ + 7, 41);
}

juce::Rectangle<int> ConsoleLayout::getMuteBounds(int k) const
{
    return {k * stripWidth_ + 7, 67, 46, 19};
}

juce::Rectangle<int> ConsoleLayout::getPlaySoloBounds(int k) const
{
    const juce::Rectangle<int> mute = getMuteBounds(k);
    return mute.translated(0, -(mute.getHeight() + 4));
}

juce::Rectangle<int> ConsoleLayout::getAliasBounds(int k) const
{
    return {(stripWidth_ - 48) / 2 + k * stripWidth_ + 2, 19, 48, 18};
}

juce::Rectangle<int> ConsoleLayout::getMasterFaderBounds(int k) const
{
    return {k * stripWidth_ + 12, 96, 36, consoleImages().faderTrack.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getPlayFaderBounds(int k) const
{
    return {k * stripWidth_ + 6, 96, 36, consoleImages().faderTrack.getHeight()};
}

juce::Rectangle<int> ConsoleLayout::getMasterFaderValueBox(int k) const
{
    return {k * stripWidth_ + 15, 96 + 221, 28, 16};
}

juce::Rectangle<int> ConsoleLayout::getPlayFaderValueBox(int k) const
{
    return getMasterFaderValueBox(k);
}

juce::Rectangle<int> ConsoleLayout::getOutputMeterBounds(int k) const
{
    return getMeterSize().withPosition(k * stripWidth_ + 8, 107);
}

juce::Rectangle<int> ConsoleLayout::getMasterGangBounds() const
{
    return {34, consoleImages().masterBackground.getHeight() - 17 - 7, 44, 17};
}

juce::Rectangle<int> ConsoleLayout::getPlayGangBounds() const
{
    return {34, consoleImages().playBackground.getHeight() - 17 - 7, 44, 17};
}

juce::Rectangle<int> ConsoleLayout::getPlayLabelBounds() const
{
    return {(stripWidth_ - 30) / 2 + 2, 2, 30, 12};
}

// --- other services ---

void ConsoleLayout::getFaderRange(double& maximum, double& minimum) const
{
    maximum = 0.0;
    minimum = -60.0;
}

void ConsoleLayout::applyStripLabelFont(juce::Label& label) const
{
    label.setFont(juce::Font(float(label.getHeight()), juce::Font::bold));
}

void ConsoleLayout::stylePlayLabel(juce::Label& label) const
{
    applyStripLabelFont(label);
    label.setColour(juce::Label::backgroundColourId, juce::Colour(15, 15, 15));
    label.setColour(juce::Label::textColourId, juce::Colours::white);
}

void ConsoleLayout::setAliasColours(juce::Label& label) const
{
    label.setColour(juce::Label::backgroundColourId, juce::Colours::transparentBlack);
    label.setColour(juce::Label::textColourId, juce::Colours::black);
}

void ConsoleLayout::setValueBoxColours(juce::Label& label) const
{
    label.setColour(juce::Label::textColourId, juce::Colours::black);
}

void ConsoleLayout::loadMidiStatusImages(juce::Image& background, juce::Image& inLed,
                                         juce::Image& outLed) const
{
    const ConsoleImages& im = consoleImages();
    background = im.midiBackground;
    inLed = im.midiLed;
    outLed = im.midiLed;
}

} // namespace console
