# The native window, kestrane.exe: Win32 and the common controls over the
# core, statically linked like kestrane-cli.exe.
enable_language(RC)

# The program's icon from the project's own picture, when the tools are here.
set(kestrane_ico ${CMAKE_BINARY_DIR}/kestrane.ico)
find_program(RSVG_CONVERT rsvg-convert)
find_program(ICOTOOL icotool)
if(RSVG_CONVERT AND ICOTOOL)
  set(pngs)
  foreach(size 16 24 32 48 64 256)
    list(APPEND pngs ${CMAKE_BINARY_DIR}/kestrane-${size}.png)
  endforeach()
  add_custom_command(OUTPUT ${kestrane_ico}
    COMMAND ${CMAKE_COMMAND} -E env sh -c "for s in 16 24 32 48 64 256; do ${RSVG_CONVERT} -w $s -h $s -o kestrane-$s.png ${CMAKE_SOURCE_DIR}/packaging/kestrane.svg || exit 1; done"
    COMMAND ${ICOTOOL} -c -o ${kestrane_ico} ${pngs}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/kestrane.svg
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
else()
  message(FATAL_ERROR "kestrane.exe needs rsvg-convert (librsvg2-bin) and icotool (icoutils)")
endif()
add_custom_target(kestrane_icon DEPENDS ${kestrane_ico})

file(GLOB win32_srcs CONFIGURE_DEPENDS src/win32/*.cpp)
add_executable(kestrane WIN32 ${win32_srcs} src/win32/kestrane.rc)
add_dependencies(kestrane kestrane_icon)
set_source_files_properties(src/win32/kestrane.rc PROPERTIES OBJECT_DEPENDS
  "${kestrane_ico};${CMAKE_SOURCE_DIR}/src/win32/kestrane.exe.manifest;${CMAKE_SOURCE_DIR}/src/win32/resource.h")
target_include_directories(kestrane PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR})
target_compile_options(kestrane PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
target_link_options(kestrane PRIVATE -municode)
target_link_libraries(kestrane PRIVATE kestrane_window ${KESTRANE_CORE_LIBS} comctl32 comdlg32 uxtheme advapi32 gdi32 user32 shell32 shlwapi ole32)
kestrane_static_exe(kestrane)

if(KESTRANE_BUILD_TESTS)
  add_subdirectory(tests/win32 ${CMAKE_BINARY_DIR}/tests-win32)
endif()
