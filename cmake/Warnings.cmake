# Warnings for the project's own targets (not for the JUCE modules compiled in strellis_juce): every
# warning is an error, so none can pile up unnoticed.
function(strellis_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
