# Warnings for the project's own targets (not for the JUCE modules compiled in strellis_juce).
function(strellis_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
