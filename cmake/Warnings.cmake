# Warnings for the project's own targets (not for the JUCE modules compiled in strellis_juce). Turning
# them into errors is for CI (scripts/test.sh sets STRELLIS_WERROR), so that none can pile up unnoticed;
# a user's build with another compiler or flags is not stopped by a new warning.
option(STRELLIS_WERROR "Treat warnings in the project's own code as errors" OFF)

function(strellis_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(STRELLIS_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
