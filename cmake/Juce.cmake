# JUCE 7 from Debian. The module sources are compiled once into the static library strellis_juce;
# every target that uses JUCE links it and gets the modules' include paths and definitions from it.
find_package(JUCE CONFIG REQUIRED)

add_library(strellis_juce STATIC)
target_link_libraries(strellis_juce
    PRIVATE
        juce::juce_core
        juce::juce_events
        juce::juce_data_structures
        juce::juce_graphics
        juce::juce_gui_basics
        juce::juce_gui_extra
    PUBLIC
        juce::juce_recommended_config_flags)
target_compile_definitions(strellis_juce
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_STANDALONE_APPLICATION=1
        JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1)
# In a debug build the framework prints every X error it is sent. Without a window manager (the main job's
# virtual display) it asks for window properties through atoms nobody made, which the server answers with
# BadAtom: dozens of harmless lines on every start. The framework's own switch turns them off.
target_compile_definitions(strellis_juce PRIVATE JUCE_DEBUG_XERRORS=0)
# Debian's JUCE takes PNG and JPEG from the system: every GUI target needs them at link time.
target_link_libraries(strellis_juce PUBLIC juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
target_include_directories(strellis_juce
    INTERFACE $<TARGET_PROPERTY:strellis_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions(strellis_juce
    INTERFACE $<TARGET_PROPERTY:strellis_juce,COMPILE_DEFINITIONS>)
