#include "console/ui/widgets/Meters.h"

#include "console/core/ConsoleState.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "console/ui/widgets/ConsoleLookAndFeel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace console
{
namespace
{

// Boundary rows by dB below full scale (index 0 .. 128).
constexpr std::array<int, 129> kMeterRows = []
{
    std::array<int, 129> rows{};
    constexpr int steep[] = {0,  6,  12, 18, 24, 30,  36,  42,  48,  54,  60,  66,  72,  75,  78,  81, 84,
                             87, 90, 93, 96, 99, 102, 105, 108, 110, 113, 116, 119, 122, 125, 128, 131};
    constexpr int shallow[] = {131, 134, 134, 137, 137, 140, 140, 143, 143, 147, 147, 150, 150,
                               153, 153, 156, 156, 159, 159, 162, 162, 165, 165, 168, 168, 171,
                               171, 174, 174, 177, 177, 180, 180, 183, 183, 186, 186, 189, 189};
    size_t k = 0;
    for (int row : steep)
        rows[k++] = row;
    for (int row : shallow)
        rows[k++] = row;
    while (k < rows.size())
        rows[k++] = 191;
    return rows;
}();
static_assert(kMeterRows[32] == 131 && kMeterRows[33] == 131 && kMeterRows[71] == 189 &&
              kMeterRows[72] == 191);

constexpr double kFullScale = 2147483648.0; // 2^31
constexpr int kLowestDb = -128;

// The MIDI activity bits of the status word: bit 8 + 2n (input port n) and 9 + 2n (output port n) for
// the ports the word has room for.
constexpr uint32_t kMidiBits = 0xFFFFFF00u;

} // namespace

// --- meter ---

meter::meter()
{
    setInterceptsMouseClicks(false, false);
}

void meter::setImages(const juce::Image& lit, const juce::Image& unlit)
{
    lit_ = lit;
    unlit_ = unlit;
}

void meter::attach(juce::Component& parent)
{
    boundary_ = getHeight();
    drawn_ = 0;
    setOpaque(true);
    parent.addAndMakeVisible(this);
}

int meter::rowForLevel(uint32_t level, int height)
{
    if (level == 0)
        return height;
    if (double(level) >= kFullScale)
        return kMeterRows[0];
    const long db = std::max<long>(std::lround(20.0 * std::log10(double(level) / kFullScale)), kLowestDb);
    return kMeterRows[size_t(-db)];
}

void meter::setLevel(uint32_t level)
{
    boundary_ = rowForLevel(level, getHeight());
    if (boundary_ != drawn_)
        repaint(0, std::min(boundary_, drawn_), getWidth(), std::abs(boundary_ - drawn_));
}

void meter::paint(juce::Graphics& g)
{
    const juce::Rectangle<int> clip = g.getClipBounds();
    const int top = clip.getY();
    const int bottom = clip.getBottom();
    const int width = getWidth();
    // Image rows are copied 1:1 at full width: unlit above the boundary, lit from it down.
    if (top < boundary_)
    {
        const int h = std::min(boundary_, bottom) - top;
        g.drawImage(unlit_, 0, top, width, h, 0, top, width, h);
    }
    if (boundary_ < bottom)
    {
        const int from = std::max(boundary_, top);
        g.drawImage(lit_, 0, from, width, bottom - from, 0, from, width, bottom - from);
    }
    drawn_ = boundary_;
}

// --- MidiStatus ---

MidiStatus::MidiStatus(ConsoleContext& content, juce::Component& parent)
    : juce::Component("midi status"), content_(content)
{
    const ConsoleLayout& layout = content.getLayout();
    layout.loadMidiStatusImages(background_, inLed_, outLed_);
    setBounds(juce::Rectangle<int>(background_.getWidth(), background_.getHeight())
                  .withPosition(layout.getMidiStatusPosition()));
    setOpaque(true);
    setInterceptsMouseClicks(false, false);
    parent.addAndMakeVisible(this);
}

void MidiStatus::update(const PolledSnapshot& snapshot)
{
    const int64_t status = snapshot.getStatusWord() & kMidiBits;
    if (status == status_)
        return;
    status_ = status;
    repaint();
}

bool MidiStatus::anyPortActive(uint32_t ports, uint32_t firstBit) const
{
    if (status_ < 0)
        return false;
    // Ports whose bit lies beyond the status word are never active.
    for (uint32_t port = 0; port < ports && firstBit + 2 * port < 32; ++port)
        if ((uint64_t(status_) >> (firstBit + 2 * port)) & 1)
            return true;
    return false;
}

bool MidiStatus::isInputLit() const
{
    return anyPortActive(content_.getHwInfo().getMidiInCount(), 8);
}

bool MidiStatus::isOutputLit() const
{
    return anyPortActive(content_.getHwInfo().getMidiOutCount(), 9);
}

void MidiStatus::paint(juce::Graphics& g)
{
    const ConsoleLayout& layout = content_.getLayout();
    g.fillAll(kDark);
    g.drawImageAt(background_, 0, 0);
    // All input ports share the upper LED, all output ports the lower.
    if (isInputLit())
        g.drawImageAt(inLed_, layout.getMidiInLedPosition().x, layout.getMidiInLedPosition().y);
    if (isOutputLit())
        g.drawImageAt(outLed_, layout.getMidiOutLedPosition().x, layout.getMidiOutLedPosition().y);
}

// --- RudeSolo ---

RudeSolo::RudeSolo(ConsoleContext& content, juce::Component& parent)
    : juce::Component("rude solo"), content_(content), inputs_(content.getLayout().getInputStripCount())
{
    setBounds(content.getLayout().getRudeSoloBounds());
    setOpaque(true);
    setInterceptsMouseClicks(false, false);
    parent.addAndMakeVisible(this);
}

int RudeSolo::countSolos() const
{
    // Monitor solos of the inputs that have a strip, in every mix, and playback solos, of the channels
    // the device has (at most the image's 40 outputs). A solo of an input without a strip (one a session
    // brought) can be neither seen nor switched off on the page, so it does not light the warning.
    const device::HwInfoCaps& caps = content_.getHwInfo();
    constexpr int room = ConsoleState::kMaxChannels;
    const int inputs = std::min(inputs_, room);
    const int outputs = int(std::min<uint32_t>(caps.getOutputCount(), room));
    const ConsoleState& state = content_.getState();
    uint8_t flags[room * room];
    uint8_t playback[room * ConsoleState::kRecordBytes];
    state.copyBytes(ConsoleState::kMonitorFlags, flags, int(sizeof flags));
    state.copyBytes(ConsoleState::kPlaybackRecords, playback, int(sizeof playback));
    int count = 0;
    for (int i = 0; i < inputs; ++i)
        for (int o = 0; o < outputs; ++o)
            count += (flags[i * room + o] & 2) != 0 ? 1 : 0;
    for (int c = 0; c < outputs; ++c)
        count += playback[c * ConsoleState::kRecordBytes + 1] != 0 ? 1 : 0;
    return count;
}

void RudeSolo::update()
{
    // Counted under the lock, so a count taken earlier on the other thread never overwrites a later one.
    std::lock_guard<std::mutex> lock(lock_);
    count_ = countSolos();
}

int RudeSolo::getCount() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return count_;
}

void RudeSolo::blink()
{
    const bool wasLit = isLit();
    shownCount_ = getCount();
    if (shownCount_ != 0 && --blinkCounter_ == -5)
        blinkCounter_ = 5;
    if (isLit() != wasLit)
        repaint();
}

void RudeSolo::paint(juce::Graphics& g)
{
    const ConsoleImages& im = consoleImages();
    g.fillAll(kDark);
    g.drawImageAt(im.soloBackground, 0, 0);
    if (isLit())
    {
        const juce::Point<int> at = content_.getLayout().getRudeSoloLightPosition();
        g.drawImageAt(im.soloLight, at.x, at.y);
    }
}

} // namespace console
