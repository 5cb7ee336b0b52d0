# The framework as Debian installs it (juce-modules-source), built from a copy of its modules in the
# build tree with the patches beside this file applied. Debian's package configuration adds the
# modules from where it installed them, so it is read here with that folder swapped for the copy;
# everything else (the CMake functions, juceaide, the LV2 helper) stays as installed. A patch that no
# longer applies (another framework version) stops the configuration.
set(QM_JUCE_PATCHES ${CMAKE_CURRENT_LIST_DIR}/utf8-decoder.patch)

find_path(QM_JUCE_CONFIG_DIR JUCEConfig.cmake REQUIRED
    PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/cmake /usr/lib/cmake PATH_SUFFIXES JUCE-7.0.5)
find_program(QM_PATCH patch REQUIRED)
file(READ ${QM_JUCE_CONFIG_DIR}/JUCEConfig.cmake qm_juce_config)
if(NOT qm_juce_config MATCHES "set\\(JUCE_MODULES_DIR \"([^\"]+)\"")
    message(FATAL_ERROR "${QM_JUCE_CONFIG_DIR}/JUCEConfig.cmake names no modules folder")
endif()
set(qm_installed_modules ${CMAKE_MATCH_1})
set(qm_patched_modules ${CMAKE_BINARY_DIR}/juce-modules)

# The copy is made again whenever a patch or the installed framework changes.
file(TIMESTAMP ${qm_installed_modules}/juce_core/juce_core.h qm_patch_hashes UTC)
string(APPEND qm_patch_hashes "\n")
foreach(patch ${QM_JUCE_PATCHES})
    file(SHA256 ${patch} hash)
    string(APPEND qm_patch_hashes "${hash}\n")
endforeach()
set(qm_stamp ${qm_patched_modules}.stamp)
set(qm_stamped "")
if(EXISTS ${qm_stamp})
    file(READ ${qm_stamp} qm_stamped)
endif()
if(NOT qm_stamped STREQUAL qm_patch_hashes OR NOT EXISTS ${qm_patched_modules})
    file(REMOVE_RECURSE ${qm_patched_modules} ${qm_stamp})
    file(COPY ${qm_installed_modules}/ DESTINATION ${qm_patched_modules})
    foreach(patch ${QM_JUCE_PATCHES})
        execute_process(COMMAND ${QM_PATCH} -p1 --batch --forward --silent -d ${qm_patched_modules} -i ${patch}
            RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(failed)
            message(FATAL_ERROR "${patch} does not apply to ${qm_installed_modules}:\n${out}")
        endif()
    endforeach()
    file(WRITE ${qm_stamp} "${qm_patch_hashes}")
endif()
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QM_JUCE_PATCHES})

string(REPLACE "${qm_installed_modules}" "${qm_patched_modules}" qm_juce_config "${qm_juce_config}")
string(REPLACE "\${CMAKE_CURRENT_LIST_DIR}" "${QM_JUCE_CONFIG_DIR}" qm_juce_config "${qm_juce_config}")
file(WRITE ${CMAKE_BINARY_DIR}/juce-config/JUCEConfig.cmake "${qm_juce_config}")
include(${CMAKE_BINARY_DIR}/juce-config/JUCEConfig.cmake)
