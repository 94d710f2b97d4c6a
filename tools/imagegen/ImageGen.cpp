// Draws every picture of the console at the pixel size its layout is computed from, and writes each one
// as a PNG file into the folder given on the command line. The look: dark panels, thin light rules, light
// "scribble strip" fields where the console writes names and values in black, green-yellow-red meters.

#include <juce_graphics/juce_graphics.h>

#include <cmath>
#include <cstdio>

namespace
{

using juce::Colour;
using juce::Graphics;
using juce::Image;

const Colour kPanel(24, 24, 26);
const Colour kPanelLight(38, 38, 42);
const Colour kRule(70, 70, 76);
const Colour kScribble(214, 214, 206);
const Colour kAccent(0, 170, 210);

constexpr int kStripWidth = 54;
constexpr int kFrameSize = 42;
constexpr int kFrames = 39;

Image makeImage(int w, int h, bool alpha)
{
    Image image(alpha ? Image::ARGB : Image::RGB, w, h, true);
    if (!alpha)
        Graphics(image).fillAll(kPanel);
    return image;
}

void panel(Graphics& g, juce::Rectangle<float> r)
{
    g.setGradientFill(
        juce::ColourGradient(kPanelLight, r.getX(), r.getY(), kPanel, r.getX(), r.getBottom(), false));
    g.fillRect(r);
}

// A light field with a soft inner shadow, where the console writes black text.
void scribble(Graphics& g, juce::Rectangle<float> r)
{
    g.setColour(kScribble);
    g.fillRoundedRectangle(r, 2.0f);
    g.setColour(Colour(150, 150, 142));
    g.drawRoundedRectangle(r.reduced(0.5f), 2.0f, 1.0f);
}

// A recessed slot behind a fader or a meter.
void slot(Graphics& g, juce::Rectangle<float> r)
{
    g.setColour(Colour(8, 8, 9));
    g.fillRoundedRectangle(r, 2.0f);
    g.setColour(kRule);
    g.drawRoundedRectangle(r.reduced(0.5f), 2.0f, 1.0f);
}

void separators(Graphics& g, int x, int w, int h)
{
    g.setColour(Colour(48, 48, 52));
    g.drawVerticalLine(x, 0.0f, float(h));
    g.setColour(Colour(10, 10, 11));
    g.drawVerticalLine(x + w - 1, 0.0f, float(h));
}

// One input strip: upper label band, name field, nominal switch, pan knob with its value field, solo and
// mute, fader with its meter, value field, and room for the gang button below.
Image stripBackground()
{
    Image image = makeImage(kStripWidth, 465, false);
    Graphics g(image);
    panel(g, {0.0f, 0.0f, float(kStripWidth), 465.0f});
    g.setColour(Colour(15, 15, 15));
    g.fillRect(0, 0, kStripWidth, 17);
    scribble(g, {5.0f, 20.0f, 48.0f, 18.0f});
    // The knob sits in a shallow well.
    g.setColour(Colour(14, 14, 15));
    g.fillEllipse(8.0f, 73.0f, 42.0f, 42.0f);
    // The pan value below the knob.
    scribble(g, {10.0f, 124.0f, 36.0f, 12.0f});
    slot(g, {7.0f, 200.0f, 12.0f, 198.0f});
    // Fader scale beside the track.
    g.setColour(kRule);
    for (int db = 0; db <= 60; db += 6)
    {
        const int y = 192 + 10 + int(std::lround((192.0 * db) / 60.0));
        g.drawHorizontalLine(y, 48.0f, 52.0f);
    }
    scribble(g, {15.0f, 413.0f, 28.0f, 16.0f});
    g.setColour(kRule);
    g.drawHorizontalLine(436, 4.0f, float(kStripWidth - 4));
    separators(g, 0, kStripWidth, 465);
    return image;
}

// A two-strip section of the given width (playback 108, master 113) with fields for both strips.
Image sectionBackground(int width, bool master)
{
    Image image = makeImage(width, 369, false);
    Graphics g(image);
    panel(g, {0.0f, 0.0f, float(width), 369.0f});
    for (int k = 0; k < 2; ++k)
    {
        const int x = k * kStripWidth;
        scribble(g, {float((kStripWidth - 48) / 2 + x + 2), 19.0f, 48.0f, 18.0f});
        scribble(g, {float(x + 15), 317.0f, 28.0f, 16.0f});
        if (master)
            slot(g, {float(x + 7), 104.0f, 12.0f, 198.0f});
        separators(g, x, kStripWidth, 369);
    }
    if (master)
    {
        g.setColour(kAccent.withAlpha(0.6f));
        g.fillRect(width - 4, 0, 3, 369);
    }
    g.setColour(kRule);
    g.drawHorizontalLine(340, 4.0f, float(width - 4));
    return image;
}

// 39 frames of a knob, 42 pixels each, stacked; the pointer turns from 5π/4 to 11π/4 (clockwise from
// twelve o'clock), 3π/2 in all.
Image knobFilmStrip()
{
    Image image = makeImage(kFrameSize, kFrameSize * kFrames, false);
    Graphics g(image);
    g.fillAll(Colour(14, 14, 15));
    const float pi = juce::MathConstants<float>::pi;
    for (int f = 0; f < kFrames; ++f)
    {
        const float top = float(f * kFrameSize);
        const float cx = kFrameSize / 2.0f;
        const float cy = top + kFrameSize / 2.0f;
        const float angle = 1.25f * pi + 1.5f * pi * float(f) / float(kFrames - 1);
        // Range arc and its lit part.
        juce::Path arc;
        arc.addCentredArc(cx, cy, 18.0f, 18.0f, 0.0f, 1.25f * pi, 2.75f * pi, true);
        g.setColour(Colour(55, 55, 60));
        g.strokePath(arc, juce::PathStrokeType(2.0f));
        juce::Path lit;
        const float centre = 2.0f * pi;
        lit.addCentredArc(cx, cy, 18.0f, 18.0f, 0.0f, std::min(centre, angle), std::max(centre, angle), true);
        g.setColour(kAccent);
        g.strokePath(lit, juce::PathStrokeType(2.0f));
        // Body.
        g.setGradientFill(juce::ColourGradient(Colour(110, 110, 116), cx, cy - 14.0f, Colour(36, 36, 40), cx,
                                               cy + 14.0f, false));
        g.fillEllipse(cx - 13.0f, cy - 13.0f, 26.0f, 26.0f);
        g.setColour(Colour(10, 10, 10));
        g.drawEllipse(cx - 13.0f, cy - 13.0f, 26.0f, 26.0f, 1.0f);
        // Pointer.
        const float sx = std::sin(angle);
        const float sy = -std::cos(angle);
        g.setColour(juce::Colours::white);
        g.drawLine(cx + sx * 4.0f, cy + sy * 4.0f, cx + sx * 12.0f, cy + sy * 12.0f, 2.5f);
    }
    return image;
}

Image faderThumb()
{
    Image image = makeImage(26, 20, true);
    Graphics g(image);
    g.setColour(juce::Colours::black.withAlpha(0.5f));
    g.fillRoundedRectangle(1.0f, 2.0f, 25.0f, 18.0f, 3.0f);
    g.setGradientFill(
        juce::ColourGradient(Colour(200, 200, 204), 0.0f, 0.0f, Colour(90, 90, 96), 0.0f, 18.0f, false));
    g.fillRoundedRectangle(0.0f, 0.0f, 25.0f, 18.0f, 3.0f);
    g.setColour(Colour(30, 30, 32));
    g.drawRoundedRectangle(0.5f, 0.5f, 24.0f, 17.0f, 3.0f, 1.0f);
    g.setColour(juce::Colours::white);
    g.fillRect(2, 8, 21, 2);
    return image;
}

// The track: a slot down the middle with the slider's travel (the thumb centre runs from about 10 to
// 202).
Image faderTrack()
{
    Image image = makeImage(26, 212, false);
    Graphics g(image);
    g.fillAll(kPanel);
    slot(g, {10.0f, 4.0f, 6.0f, 204.0f});
    g.setColour(kRule);
    for (int i = 0; i <= 10; ++i)
    {
        const int y = 10 + (192 * i) / 10;
        g.drawHorizontalLine(y, 2.0f, 7.0f);
        g.drawHorizontalLine(y, 19.0f, 24.0f);
    }
    return image;
}

// Meter: row 0 is full scale. Colours by the rows the console's scale gives: red above -3 dB (row 18),
// yellow above -12 dB (row 72), green below.
Image meter(bool lit)
{
    Image image = makeImage(10, 192, false);
    Graphics g(image);
    g.fillAll(Colour(6, 6, 7));
    for (int y = 0; y < 192; ++y)
    {
        Colour c = y < 18 ? Colour(235, 40, 30) : y < 72 ? Colour(235, 200, 30) : Colour(40, 210, 70);
        if (!lit)
            c = c.withMultipliedBrightness(0.18f);
        // A dark line every third row gives the segments.
        if (y % 3 == 2)
            c = c.withMultipliedBrightness(0.45f);
        g.setColour(c);
        g.fillRect(1, y, 8, 1);
    }
    return image;
}

// The logo: a mark of three rising bars in a ring, on a gradient.
Image logo()
{
    Image image = makeImage(113, 44, false);
    Graphics g(image);
    g.setGradientFill(
        juce::ColourGradient(Colour(30, 34, 40), 0.0f, 0.0f, Colour(12, 12, 14), 0.0f, 44.0f, false));
    g.fillAll();
    const float cx = 56.5f;
    const float cy = 22.0f;
    g.setColour(kAccent);
    g.drawEllipse(cx - 17.0f, cy - 17.0f, 34.0f, 34.0f, 2.0f);
    for (int i = 0; i < 3; ++i)
    {
        const float h = 8.0f + 6.0f * float(i);
        g.fillRoundedRectangle(cx - 10.0f + 7.5f * float(i), cy + 9.0f - h, 5.0f, h, 1.5f);
    }
    g.setColour(kRule);
    g.drawHorizontalLine(43, 0.0f, 113.0f);
    return image;
}

// The About window's logo: the same mark, larger, over the product's name, on the window's dark ground.
Image aboutLogo()
{
    Image image = makeImage(200, 130, false);
    Graphics g(image);
    g.fillAll(Colour(15, 15, 15));
    const float cx = 100.0f;
    const float cy = 40.0f;
    g.setColour(kAccent);
    g.drawEllipse(cx - 36.0f, cy - 36.0f, 72.0f, 72.0f, 4.0f);
    for (int i = 0; i < 3; ++i)
    {
        const float h = 16.0f + 13.0f * float(i);
        g.fillRoundedRectangle(cx - 21.0f + 16.0f * float(i), cy + 19.0f - h, 10.0f, h, 3.0f);
    }
    g.setColour(kScribble);
    g.setFont(juce::Font(26.0f, juce::Font::bold));
    g.drawText("STRELLIS", 0, 84, 200, 28, juce::Justification::centred, false);
    g.setColour(kAccent);
    g.setFont(juce::Font(14.0f, juce::Font::plain));
    g.drawText("Console", 0, 110, 200, 18, juce::Justification::centred, false);
    return image;
}

Image soloBackground()
{
    Image image = makeImage(113, 20, false);
    Graphics g(image);
    g.fillAll(Colour(15, 15, 15));
    g.setColour(Colour(40, 10, 10));
    g.fillEllipse(7.0f, 5.0f, 12.0f, 12.0f);
    g.setColour(kRule);
    g.drawEllipse(7.5f, 5.5f, 11.0f, 11.0f, 1.0f);
    g.drawHorizontalLine(19, 0.0f, 113.0f);
    return image;
}

Image light(Colour colour)
{
    Image image = makeImage(10, 10, false);
    Graphics g(image);
    g.fillAll(Colour(15, 15, 15));
    g.setGradientFill(
        juce::ColourGradient(colour.brighter(0.8f), 4.0f, 3.0f, colour.darker(0.4f), 5.0f, 10.0f, true));
    g.fillEllipse(0.5f, 0.5f, 9.0f, 9.0f);
    return image;
}

// MIDI activity: the upper LED (at 8, 6) is the input, the lower (at 8, 26) the output.
Image midiBackground()
{
    Image image = makeImage(113, 50, false);
    Graphics g(image);
    g.fillAll(Colour(15, 15, 15));
    g.setColour(Colour(8, 30, 12));
    g.fillEllipse(8.0f, 6.0f, 10.0f, 10.0f);
    g.fillEllipse(8.0f, 26.0f, 10.0f, 10.0f);
    g.setColour(juce::Colours::white.withAlpha(0.8f));
    g.setFont(juce::Font(11.0f, juce::Font::bold));
    g.drawText("MIDI IN", 24, 4, 80, 14, juce::Justification::centredLeft, false);
    g.drawText("MIDI OUT", 24, 24, 80, 14, juce::Justification::centredLeft, false);
    g.setColour(kRule);
    g.drawHorizontalLine(49, 0.0f, 113.0f);
    return image;
}

// Four 5 x 5 frames side by side: dark, green, yellow, red.
Image activityLights()
{
    Image image = makeImage(20, 5, false);
    Graphics g(image);
    g.fillAll(juce::Colours::black);
    const Colour colours[4] = {Colour(40, 40, 40), Colour(40, 210, 70), Colour(235, 200, 30),
                               Colour(235, 40, 30)};
    for (int i = 0; i < 4; ++i)
    {
        g.setColour(colours[i]);
        g.fillEllipse(float(i * 5), 0.0f, 5.0f, 5.0f);
    }
    return image;
}

Image trayIcon()
{
    Image image = makeImage(16, 16, false);
    Graphics g(image);
    g.fillAll(Colour(15, 15, 15));
    g.setColour(kAccent);
    for (int i = 0; i < 3; ++i)
    {
        const int h = 4 + 4 * i;
        g.fillRect(3 + 4 * i, 14 - h, 3, h);
    }
    return image;
}

bool save(const juce::File& folder, const char* name, const Image& image)
{
    const juce::File file = folder.getChildFile(name);
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat png;
    if (!out.openedOk() || !png.writeImageToStream(image, out))
    {
        std::fprintf(stderr, "strellis-imagegen: cannot write %s\n", file.getFullPathName().toRawUTF8());
        return false;
    }
    std::printf("%s %dx%d\n", file.getFullPathName().toRawUTF8(), image.getWidth(), image.getHeight());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: strellis-imagegen <folder>\n");
        return 2;
    }
    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
    if (!folder.createDirectory())
    {
        std::fprintf(stderr, "strellis-imagegen: cannot make %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok &= save(folder, "strip_background.png", stripBackground());
    ok &= save(folder, "knob_filmstrip.png", knobFilmStrip());
    ok &= save(folder, "fader_thumb.png", faderThumb());
    ok &= save(folder, "fader_track.png", faderTrack());
    ok &= save(folder, "meter_lit.png", meter(true));
    ok &= save(folder, "meter_unlit.png", meter(false));
    ok &= save(folder, "playback_background.png", sectionBackground(108, false));
    ok &= save(folder, "master_background.png", sectionBackground(113, true));
    ok &= save(folder, "logo.png", logo());
    ok &= save(folder, "about_logo.png", aboutLogo());
    ok &= save(folder, "solo_background.png", soloBackground());
    ok &= save(folder, "solo_light.png", light(Colour(235, 40, 30)));
    ok &= save(folder, "midi_background.png", midiBackground());
    ok &= save(folder, "midi_led.png", light(Colour(40, 230, 80)));
    ok &= save(folder, "activity_lights.png", activityLights());
    ok &= save(folder, "tray_icon.png", trayIcon());
    return ok ? 0 : 1;
}
