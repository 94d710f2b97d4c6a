// The control panel as a real modal window (resource 101 of the original layout: the same controls, texts
// and behaviour), drawn with the driver's private copy of JUCE.
//
// The message loop: the dialog runs on the host thread that called controlPanel, as a modal dialog does.
// For its duration that thread becomes the message thread of the driver's own JUCE (compiled into the
// library with hidden symbols, so a host that uses JUCE itself keeps its own, untouched); the loop serves
// only the dialog's window, and everything is shut down again before controlPanel returns. The host's own
// windows on that thread wait until the dialog closes.

#include "asio/ControlPanel.h"

#include <dlfcn.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace asiodrv
{
namespace
{

// Dialog units of the layout (MS Sans Serif 8 points) to pixels.
int dx(int units)
{
    return units * 3 / 2;
}
int dy(int units)
{
    return units * 13 / 8;
}
juce::Rectangle<int> dlu(int x, int y, int w, int h)
{
    return {dx(x), dy(y), dx(w), dy(h)};
}

class PanelContent final : public juce::Component
{
public:
    PanelContent(ControlPanelModel& model, int& result) : model_(model), result_(result)
    {
        group_.setText(panel::kGroup);
        addAndMakeVisible(group_);

        slider_.setSliderStyle(juce::Slider::LinearHorizontal);
        slider_.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
        slider_.setWantsKeyboardFocus(true);
        slider_.setRange(model.rangeLow(), model.rangeHigh(), 1.0);
        slider_.setValue(model.position(), juce::dontSendNotification);
        slider_.onValueChange = [this]
        {
            model_.moveTo(static_cast<int>(slider_.getValue()));
            size_.setText(model_.sizeText(), juce::dontSendNotification);
        };
        addAndMakeVisible(slider_);

        size_.setText(model.sizeText(), juce::dontSendNotification);
        size_.setJustificationType(juce::Justification::centredRight);
        addAndMakeVisible(size_);
        samples_.setText(panel::kSamples, juce::dontSendNotification);
        addAndMakeVisible(samples_);
        credit_.setText(panel::kCredit, juce::dontSendNotification);
        credit_.setJustificationType(juce::Justification::centred);
        addAndMakeVisible(credit_);

        mmcss_.setButtonText(panel::kMmcss);
        mmcss_.setToggleState(model.mmcssChecked(), juce::dontSendNotification);
        mmcss_.onClick = [this] { model_.setMmcss(mmcss_.getToggleState()); };
        addAndMakeVisible(mmcss_);
        dwm_.setButtonText(panel::kDwm);
        dwm_.setToggleState(model.dwmChecked(), juce::dontSendNotification);
        dwm_.onClick = [this] { model_.setDwm(dwm_.getToggleState()); };
        addAndMakeVisible(dwm_);
        mmcss_.setEnabled(model.switchesEnabled());
        dwm_.setEnabled(model.switchesEnabled());

        ok_.setButtonText(panel::kOk);
        ok_.addShortcut(juce::KeyPress(juce::KeyPress::returnKey));
        ok_.onClick = [this] { close(1); };
        addAndMakeVisible(ok_);
        cancel_.setButtonText(panel::kCancel);
        cancel_.addShortcut(juce::KeyPress(juce::KeyPress::escapeKey));
        cancel_.onClick = [this] { close(0); };
        addAndMakeVisible(cancel_);

        // The layout's font is 8 points; its texts fit their fields at that size.
        for (juce::Label* label : {&size_, &samples_, &credit_})
            label->setFont(juce::Font(12.0f));
        for (juce::Label* label : {&size_, &samples_})
            label->setBorderSize(juce::BorderSize<int>(0, 1, 0, 1));
        setSize(dx(244), dy(153));
    }

    // The slider has the focus when the dialog opens, so the arrow keys move it at once.
    void focusSlider() { slider_.grabKeyboardFocus(); }

    void resized() override
    {
        slider_.setBounds(dlu(25, 24, 192, 15));
        size_.setBounds(dlu(96, 42, 19, 13));
        ok_.setBounds(dlu(107, 103, 50, 14));
        cancel_.setBounds(dlu(173, 103, 50, 14));
        group_.setBounds(dlu(7, 7, 229, 57));
        samples_.setBounds(dlu(117, 42, 30, 13));
        credit_.setBounds(dlu(35, 128, 168, 8));
        picture_ = dlu(23, 76, 67, 40);
        mmcss_.setBounds(dlu(107, 74, 122, 10));
        dwm_.setBounds(dlu(107, 88, 130, 10));
    }

    void paint(juce::Graphics& g) override
    {
        g.fillAll(findColour(juce::ResizableWindow::backgroundColourId));
        drawPicture(g, picture_.withSize(100, 65));
    }

    // The 100 x 65 picture of control 1021, drawn rather than stored: a dark panel with rising level bars.
    static void drawPicture(juce::Graphics& g, juce::Rectangle<int> area)
    {
        const auto panel = area.toFloat();
        g.setColour(juce::Colour(0xff1c1f24));
        g.fillRoundedRectangle(panel, 6.0f);
        g.setColour(juce::Colour(0xff2fb3c8));
        constexpr int bars = 5;
        const float barWidth = 10.0f;
        const float gap = 6.0f;
        const float left = panel.getCentreX() - (bars * barWidth + (bars - 1) * gap) / 2.0f;
        const float bottom = panel.getBottom() - 12.0f;
        for (int i = 0; i < bars; ++i)
        {
            const float height = 10.0f + 8.0f * static_cast<float>(i);
            g.fillRoundedRectangle(left + static_cast<float>(i) * (barWidth + gap), bottom - height, barWidth,
                                   height, 2.0f);
        }
        g.setColour(juce::Colour(0xff3a4048));
        g.drawRoundedRectangle(panel.reduced(0.5f), 6.0f, 1.0f);
    }

    void close(int result)
    {
        result_ = result;
        if (auto* window = findParentComponentOfClass<juce::DialogWindow>())
            window->exitModalState(result);
    }

private:
    ControlPanelModel& model_;
    int& result_;
    juce::GroupComponent group_;
    juce::Slider slider_;
    juce::Label size_;
    juce::Label samples_;
    juce::Label credit_;
    juce::ToggleButton mmcss_;
    juce::ToggleButton dwm_;
    juce::TextButton ok_;
    juce::TextButton cancel_;
    juce::Rectangle<int> picture_;
};

class PanelWindow final : public juce::DialogWindow
{
public:
    PanelWindow(PanelContent* content)
        : juce::DialogWindow(panel::kCaption, juce::Colours::lightgrey, true, true)
    {
        setUsingNativeTitleBar(true);
        setContentOwned(content, true);
        centreWithSize(getWidth(), getHeight());
        setResizable(false, false);
    }

    // The window's close box cancels, like the dialog's system menu.
    void closeButtonPressed() override { exitModalState(0); }
};

// A library's JUCE leaves X errors to the host; a host without a handler of its own would be ended by the
// X library's default one for a harmless error (a window-manager property where no window manager runs).
// The dialog ignores X errors while it is open and gives the host's handler back afterwards.
class ScopedXErrorsIgnored
{
public:
    ScopedXErrorsIgnored()
    {
        x11_ = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
        if (x11_ != nullptr)
            setHandler_ = reinterpret_cast<SetHandler>(::dlsym(x11_, "XSetErrorHandler"));
        if (setHandler_ != nullptr)
            previous_ = setHandler_(&ignore);
    }
    ~ScopedXErrorsIgnored()
    {
        if (setHandler_ != nullptr)
            setHandler_(previous_);
        if (x11_ != nullptr)
            ::dlclose(x11_);
    }
    ScopedXErrorsIgnored(const ScopedXErrorsIgnored&) = delete;
    ScopedXErrorsIgnored& operator=(const ScopedXErrorsIgnored&) = delete;

private:
    using Handler = int (*)(void*, void*);
    using SetHandler = Handler (*)(Handler);
    static int ignore(void*, void*) { return 0; }

    void* x11_ = nullptr;
    SetHandler setHandler_ = nullptr;
    Handler previous_ = nullptr;
};

} // namespace

bool controlPanelDisplayAvailable()
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0')
        return false;
    // Asked of the X library directly, before any window code runs.
    void* x11 = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (x11 == nullptr)
        return false;
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    const auto open = reinterpret_cast<Open>(::dlsym(x11, "XOpenDisplay"));
    const auto close = reinterpret_cast<Close>(::dlsym(x11, "XCloseDisplay"));
    bool available = false;
    if (open != nullptr && close != nullptr)
    {
        if (void* connection = open(display))
        {
            available = true;
            close(connection);
        }
    }
    ::dlclose(x11);
    return available;
}

int runControlPanelDialog(ControlPanelModel& model)
{
    int result = 0;
    const ScopedXErrorsIgnored xErrors;
    juce::ScopedJuceInitialiser_GUI gui; // this thread is the message thread until the dialog is gone
    {
        auto* content = new PanelContent(model, result);
        PanelWindow window(content);
        window.setVisible(true);
        window.toFront(true);
        content->focusSlider();
        window.runModalLoop();
    }
    return result;
}

} // namespace asiodrv
