#include "console/ui/settings/Settings.h"

#include "console/core/HwCtrl.h"
#include "console/ui/settings/SampleRate.h"
#include "console/ui/settings/SettingsGroups.h"
#include "console/ui/widgets/ConsoleContext.h"
#include "console/ui/widgets/ConsoleLayout.h"
#include "device/Vhw.h"
#include "platform/SystemInfo.h"
#include "platform/Time.h"

#include <algorithm>
#include <initializer_list>
#include <mutex>

namespace console
{
namespace
{

constexpr int kColumnTop = 16;
constexpr int kGroupGap = 12;
constexpr int kAboutWidth = 80;
constexpr int kAboutHeight = 22;
constexpr int kAboutBottomGap = 42;

std::mutex openerMutex;
Settings::AboutOpener aboutOpener; // guarded by openerMutex

// One column of groups, each centred in the column below the one before.
class Column
{
public:
    Column(int index, int width) : x_(index * width), width_(width) {}

    void place(juce::Component* group)
    {
        if (group == nullptr)
            return;
        group->setTopLeftPosition(x_ + (width_ - group->getWidth()) / 2, y_);
        y_ = group->getY() + group->getHeight() + kGroupGap;
    }
    int getY() const { return y_; }

private:
    int x_;
    int width_;
    int y_ = kColumnTop;
};

} // namespace

Settings::Settings(ConsoleContext& content, juce::Component& parent)
    : juce::Component("st settings"), content_(content), vista_(platform::isWindowsVistaOrLater())
{
    setBounds(content.getLayout().getPageBounds());
    setOpaque(true);
    parent.addChildComponent(this);

    const device::HwInfoCaps& caps = content.getHwInfo();
    if (vista_)
        rateDisplay_ = std::make_unique<SampleRateDisplay>(content, *this);
    rate_ = std::make_unique<SampleRate>(content, *this);
    if (caps.hasClockSelection())
        clock_ = std::make_unique<ClockSource>(content, *this);
    if (caps.hasPhantomPower())
        phantom_ = std::make_unique<PhantomPower>(content, *this);
    buffer_ = std::make_unique<BufferSize>(content, *this);
    if (caps.hasSpdifOutput())
        spdif_ = std::make_unique<SpdifFormat>(content, *this);
    surround_ = std::make_unique<Surround>(content, *this);
    if (caps.hasOutputRouting())
        isocMap_ = std::make_unique<IsocMap>(content, *this);

    about_.setClickingTogglesState(false);
    about_.setBounds((getWidth() - kAboutWidth) / 2, getHeight() - kAboutBottomGap, kAboutWidth,
                     kAboutHeight);
    about_.addListener(this);
    addAndMakeVisible(about_);

    layOutGroups();
    setDeviceFlag();
}

Settings::~Settings()
{
    stopTimer();
    about_.removeListener(this);
}

void Settings::layOutGroups()
{
    const int columnWidth = getWidth() / 2;
    if (!twoColumnsFit(columnWidth))
    {
        layOutOneColumn();
        return;
    }
    Column left(0, columnWidth);
    left.place(rateDisplay_.get());
    left.place(rate_.get());
    left.place(clock_.get());
    left.place(phantom_.get());

    Column right(1, columnWidth);
    right.place(spdif_.get());
    right.place(surround_.get());
    right.place(buffer_.get());
    if (isocMap_ == nullptr)
        return;
    if (phantom_ != nullptr)
    {
        right.place(isocMap_.get());
        return;
    }
    // Without phantom power the left column is short: the routing group goes in the middle of the page,
    // between the left column and the "About" button.
    const int y0 = left.getY();
    isocMap_->setTopLeftPosition((getWidth() - isocMap_->getWidth()) / 2,
                                 (about_.getY() - isocMap_->getHeight() - y0) / 2 + y0 - kGroupGap);
}

std::vector<juce::Component*> Settings::groupsInColumnOrder() const
{
    std::vector<juce::Component*> groups;
    for (juce::Component* group : std::initializer_list<juce::Component*>{
             rateDisplay_.get(), rate_.get(), clock_.get(), phantom_.get(), spdif_.get(), surround_.get(),
             buffer_.get(), isocMap_.get()})
        if (group != nullptr)
            groups.push_back(group);
    return groups;
}

bool Settings::twoColumnsFit(int columnWidth) const
{
    // Routing without phantom power is centred on the whole page, every other group in its column.
    for (juce::Component* group : groupsInColumnOrder())
    {
        const bool centred = group == isocMap_.get() && phantom_ == nullptr;
        if (group->getWidth() > (centred ? getWidth() : columnWidth))
            return false;
    }
    return true;
}

void Settings::layOutOneColumn()
{
    // A page narrower than two groups side by side: the groups stand in one column, left column first,
    // in a view that scrolls when the column is taller than the room above "About".
    column_ = std::make_unique<juce::Viewport>("settings column");
    column_->setViewedComponent(new juce::Component("settings column groups"), true);
    column_->setBounds(0, 0, getWidth(), about_.getY() - kGroupGap);
    // The framework's scroll bar is white on white: a grey one on the page's dark.
    for (juce::ScrollBar* bar : {&column_->getVerticalScrollBar(), &column_->getHorizontalScrollBar()})
    {
        bar->setColour(juce::ScrollBar::trackColourId, juce::Colour(40, 40, 40));
        bar->setColour(juce::ScrollBar::thumbColourId, juce::Colour::greyLevel(0.6f));
    }
    addAndMakeVisible(*column_);

    juce::Component& holder = *column_->getViewedComponent();
    int widest = 0;
    int height = kColumnTop;
    for (juce::Component* group : groupsInColumnOrder())
    {
        widest = std::max(widest, group->getWidth());
        height += group->getHeight() + kGroupGap;
    }
    const int scrollBar = height > column_->getHeight() ? column_->getScrollBarThickness() : 0;
    holder.setSize(std::max(widest, column_->getWidth() - scrollBar), height);
    Column column(0, holder.getWidth());
    for (juce::Component* group : groupsInColumnOrder())
    {
        holder.addAndMakeVisible(group);
        column.place(group);
    }
    // The wheel scrolls the page: taken by the buffer slider on its way, it would send a buffer size.
    if (buffer_ != nullptr)
        buffer_->getSlider().setScrollWheelEnabled(false);
}

void Settings::setDeviceFlag()
{
    device::vhw& device = content_.getDevice();
    const uint32_t start = platform::getTickCount();
    // A device that asks to try again gets a short pause first, so the loop does not flood it (and the
    // debug output) for the whole two seconds.
    while (device.changeFlags(1, 0) < 0 && platform::getTickCount() - start < kFlagRetryMs)
        platform::sleepMs(10);
}

void Settings::update(const PolledSnapshot& snapshot)
{
    // Both rate groups: a rate set elsewhere reaches each.
    if (rateDisplay_ != nullptr)
        rateDisplay_->refresh(snapshot);
    rate_->refresh(snapshot);
    if (clock_ != nullptr)
        clock_->updateLockStatus(snapshot);
    if (buffer_ != nullptr && int(snapshot.driverInfo.configuredBufferSize) != buffer_->getSize() &&
        !buffer_->getSlider().isMouseButtonDown())
        content_.getHwThread()->queueGet(*buffer_);
    if (isTimerRunning())
        endPauseWhenOver();
}

void Settings::disableForChange()
{
    setEnabled(false);
    pauseStart_ = platform::getTickCount();
    startTimer(kChangePauseMs);
}

void Settings::timerCallback()
{
    // The framework's timers may fire early: the pause is measured on the tick clock, like the system's
    // other limits, and the timer waits out what is left of it.
    if (!endPauseWhenOver())
        startTimer(int(kChangePauseMs - (platform::getTickCount() - pauseStart_)));
}

bool Settings::endPauseWhenOver()
{
    if (platform::getTickCount() - pauseStart_ < uint32_t(kChangePauseMs))
        return false;
    stopTimer();
    setEnabled(true);
    return true;
}

void Settings::refreshBufferSizeText()
{
    if (buffer_ != nullptr)
        buffer_->getSlider().updateText();
}

void Settings::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(15, 15, 15));
}

void Settings::setAboutOpener(AboutOpener opener)
{
    std::lock_guard<std::mutex> lock(openerMutex);
    aboutOpener = std::move(opener);
}

void Settings::buttonClicked(juce::Button* button)
{
    if (button != &about_)
        return;
    AboutOpener opener;
    {
        std::lock_guard<std::mutex> lock(openerMutex);
        opener = aboutOpener;
    }
    if (opener)
        opener(*this);
}

} // namespace console
