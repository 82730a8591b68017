# The unit tests of the Windows build, run under Wine (tools/wine-run) with the
# virtual audio devices. One CTest entry per test program; tests that cannot
# apply on Windows are left out below, each with its reason.

# Sources that are not built on Windows.
set(windows_excluded_sources
  # The toolkit's platform choice and the end-of-program signals are Linux's.
  platform/toolkit_platform_test.cpp
  # The sound server's client (PulseAudio) is Linux's audio back-end; on Windows
  # the system's services are reached through Wine's own sound-server client.
  platform/pulse_backend_test.cpp
  platform/pulse_backlog_test.cpp
  # ALSA is Linux's.
  platform/alsa_backend_test.cpp
  platform/dsound_sound_server_test.cpp
  platform/wave_in_sound_server_test.cpp
  platform/wave_out_sound_server_test.cpp
  # The stand-in compression manager with its codec module is Linux's; on
  # Windows the compression manager is the system's (tests/integration
  # decode_wine.sh compares its results with Linux's).
  platform/acm_test.cpp
  files/acm_converter_test.cpp
  # Nice values are Linux's; on Windows the platform's priorities are the
  # system's own values.
  platform/threads_priority_test.cpp
  # The desktop opener (xdg-open) is Linux's.
  platform/shell_test.cpp
  # The registry's file store is Linux's; on Windows the registry is the system's
  # (registry_test.cpp runs on both).
  platform/registry_file_test.cpp
)

# Tests left out by name, per test program (gtest filter patterns, ':'-separated).
# The ADPCM decoders' fuzz corpus checks the stand-in compression manager's own
# decoders, which Windows' compression manager replaces.
# The audio file test copies a file to the same name in capitals, which Windows'
# file names (letter case ignored) make the same file; and it counts the PCM of
# an IMA ADPCM file whose last block is partial, which Windows' compression
# manager decodes without that block.
set(windows_excluded_tests_files "FuzzCorpora.EveryCommittedInputPassesItsTarget:AudioFileTest.LoadsWhatTheWaveTypeTakes:AudioFileTest.ConvertsReportsErrorsAndPlaysPcmWithoutTheCodecs")
# The stand-in multimedia file layer parses names as Linux paths (its longest
# name is measured from '/'); Windows names start with a drive.
set(windows_excluded_tests_platform "Mmio.ExistDeleteParseAndOpenErrors")
# A store that cannot be written is the file store's case (its folder a file);
# the system's registry has no such place.
set(windows_excluded_tests_app "PlacementStoreTest.UnwritableStoreFailsSilently")

function(tessaline_windows_tests folder)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(excluded ${windows_excluded_sources})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(NOT srcs)
    return()
  endif()
  set(target tests_${folder})
  add_executable(${target} ${srcs} ${CMAKE_CURRENT_SOURCE_DIR}/support/test_environment.cpp)
  target_compile_options(${target} PRIVATE ${TESSALINE_WARNINGS}
    -include ${CMAKE_CURRENT_SOURCE_DIR}/support/posix_compat.h)
  target_compile_definitions(${target} PRIVATE _FILE_OFFSET_BITS=64)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  set(filter "-*WithSoundServer*")
  if(DEFINED windows_excluded_tests_${folder})
    string(APPEND filter ":${windows_excluded_tests_${folder}}")
  endif()
  # Windows draws its windows through the X server under Wine: each test program
  # gets one of its own, of the window tests' left screen (Wine takes a second
  # screen of the X server for a screen at the same place).
  add_test(NAME windows_${target}
    COMMAND xvfb-run -a -s "-screen 0 1600x1000x24"
      ${PROJECT_SOURCE_DIR}/tools/wine-run ${CMAKE_BINARY_DIR}/wine-prefix
      $<TARGET_FILE:${target}> --gtest_filter=${filter}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(windows_${target} PROPERTIES LABELS "unit;windows" TIMEOUT 900
    FIXTURES_REQUIRED wine_prefix ENVIRONMENT "TESSALINE_AUDIO=virtual")
endfunction()

# One Wine prefix for the run, made fresh before the first test and ended after
# the last one.
add_test(NAME windows_wine_prefix_start
  COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-run --start ${CMAKE_BINARY_DIR}/wine-prefix)
add_test(NAME windows_wine_prefix_stop
  COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-run --stop ${CMAKE_BINARY_DIR}/wine-prefix)
set_tests_properties(windows_wine_prefix_start PROPERTIES FIXTURES_SETUP wine_prefix
  LABELS "unit;windows" TIMEOUT 300)
set_tests_properties(windows_wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix
  LABELS "unit;windows" TIMEOUT 120)

tessaline_windows_tests(devices devices platform)
tessaline_windows_tests(platform platform)
# The system's registry, read directly to check where the platform layer writes.
target_sources(tests_platform PRIVATE support/win32/native_registry.cpp)
tessaline_windows_tests(stream stream controls devices platform)
tessaline_windows_tests(capture capture stream devices platform)
tessaline_windows_tests(playback playback files stream devices platform)
tessaline_windows_tests(app app)
# The windows' tests give each test a registry of its own.
target_sources(tests_app PRIVATE support/win32/native_registry.cpp)
tessaline_windows_tests(controls controls devices platform)
tessaline_windows_tests(files files stream controls devices platform)
target_sources(tests_files PRIVATE fuzz/wave_open_fuzz.cpp fuzz/adpcm_decoders_fuzz.cpp
  fuzz/audio_file_chain_fuzz.cpp)

# The programs under Wine against a private sound server (a Wine prefix and an
# X server of their own), compared with the Linux build in build/ of the same
# checkout (scripts/test builds it first).
option(TESSALINE_WINE_INTEGRATION "Run the programs under Wine against a sound server" ON)
if(TESSALINE_WINE_INTEGRATION)
  add_test(NAME integration_windows_programs
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_programs.sh ${CMAKE_BINARY_DIR}/app
      ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/build/app)
  set_tests_properties(integration_windows_programs PROPERTIES LABELS "integration;windows"
    TIMEOUT 900 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # tessaline.exe's windows under Wine: placement, meters, play buttons, registry, links.
  add_test(NAME integration_windows_window
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_window.sh ${CMAKE_BINARY_DIR}/app
      ${PROJECT_SOURCE_DIR})
  set_tests_properties(integration_windows_window PROPERTIES LABELS "integration;windows"
    TIMEOUT 900 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # tessaline.exe as a screen reader (IAccessible) and the keyboard meet it.
  add_executable(accessible_probe support/win32/accessible_probe.cpp)
  target_compile_options(accessible_probe PRIVATE ${TESSALINE_WARNINGS})
  target_compile_definitions(accessible_probe PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(accessible_probe PRIVATE oleacc oleaut32 ole32 user32)
  add_test(NAME integration_windows_reader
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_reader.sh ${CMAKE_BINARY_DIR}/app
      ${PROJECT_SOURCE_DIR} $<TARGET_FILE:accessible_probe>)
  set_tests_properties(integration_windows_reader PROPERTIES LABELS "integration;windows"
    TIMEOUT 600 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # Names in any language: the zip in a non-ASCII folder, a device with a non-ASCII name.
  add_test(NAME integration_windows_unicode
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_unicode.sh ${CMAKE_BINARY_DIR}
      ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/build/app $<TARGET_FILE:accessible_probe>)
  set_tests_properties(integration_windows_unicode PROPERTIES LABELS "integration;windows"
    TIMEOUT 600 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # tessaline-devices.exe --check over a loopback cable, through both outputs.
  add_test(NAME integration_windows_loopback_check
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_loopback_check.sh
      ${CMAKE_BINARY_DIR}/app ${PROJECT_SOURCE_DIR})
  set_tests_properties(integration_windows_loopback_check PROPERTIES LABELS "integration;windows"
    TIMEOUT 600 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # The close button ends tessaline.exe within 0.5 s with nine inputs recording.
  add_test(NAME integration_windows_close_time
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_close_time.sh ${CMAKE_BINARY_DIR}
      ${PROJECT_SOURCE_DIR})
  set_tests_properties(integration_windows_close_time PROPERTIES LABELS "integration;windows"
    TIMEOUT 600 RUN_SERIAL TRUE ENVIRONMENT "TESSALINE_SOUND_SERVER=pulseaudio")
  # The zip for Windows users, unpacked and run in a fresh prefix.
  add_test(NAME integration_windows_package
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_package.sh ${CMAKE_BINARY_DIR}
      ${PROJECT_SOURCE_DIR})
  set_tests_properties(integration_windows_package PROPERTIES LABELS "integration;windows"
    TIMEOUT 600 RUN_SERIAL TRUE)
endif()

configure_file(${PROJECT_SOURCE_DIR}/app/assets/YesLR.wav ${CMAKE_CURRENT_BINARY_DIR}/YesLR.wav
  COPYONLY)
