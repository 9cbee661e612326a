# The Windows build (MinGW-w64 cross compiler, see scripts/build-windows.sh):
# the core, the native WMI provider over COM and kestrane-cli, linked
# statically. The Linux provider, SSH and WS-Management stay out: they need
# the kernel's files, libssh and libcurl, which are not built for Windows here.
# The window is built with Qt 6 for Windows on Windows itself (docs/windows.md).

if(NOT MSVC)
  # GCC 12's -Wrestrict misreads std::string's inlined copies in MinGW's
  # library headers (a known false positive).
  add_compile_options(-Wall -Wextra -Wno-restrict)
endif()
# Windows 7 and later; Unicode API names.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# Programs that need no DLL beyond Windows' own.
function(kestrane_static_exe target)
  if(NOT MSVC)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# nlohmann-json is header-only; the cross compiler must not see the rest of
# the build machine's /usr/include, so only its directory is linked in.
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  set(json_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_dir})
  if(NOT EXISTS ${json_dir}/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${json_dir}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json_headers INTERFACE)
  target_include_directories(nlohmann_json_headers SYSTEM INTERFACE ${json_dir})
  add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json_headers)
endif()

function(kestrane_win_lib name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
endfunction()

file(GLOB core_srcs CONFIGURE_DEPENDS src/core/*.cpp)
kestrane_win_lib(kestrane_core ${core_srcs}
  src/wmi/value.cpp src/wmi/object.cpp src/wmi/services.cpp src/listing/list_model.cpp)
target_link_libraries(kestrane_core PUBLIC nlohmann_json::nlohmann_json shell32)
target_compile_definitions(kestrane_core PUBLIC
  KESTRANE_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  KESTRANE_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  KESTRANE_VERSION_REVISION=${PROJECT_VERSION_PATCH})

file(GLOB wmi_srcs CONFIGURE_DEPENDS src/wmi/*.cpp src/wmi/snapshot/*.cpp)
list(FILTER wmi_srcs EXCLUDE REGEX "/(value|object|services)\\.cpp$")
kestrane_win_lib(kestrane_wmi ${wmi_srcs})
target_link_libraries(kestrane_wmi PUBLIC kestrane_core)

# The published class reference: the COM provider completes the classes Wine
# declares only in part.
file(GLOB schema_srcs CONFIGURE_DEPENDS src/wmi/schema/*.cpp)
kestrane_win_lib(kestrane_schema ${schema_srcs})
target_link_libraries(kestrane_schema PUBLIC kestrane_core)

file(GLOB com_srcs CONFIGURE_DEPENDS src/wmi/windows/*.cpp)
kestrane_win_lib(kestrane_com ${com_srcs})
target_link_libraries(kestrane_com PUBLIC kestrane_schema kestrane_core wbemuuid ole32 oleaut32)

foreach(dir format catalogue)
  file(GLOB srcs CONFIGURE_DEPENDS src/${dir}/*.cpp)
  kestrane_win_lib(kestrane_${dir} ${srcs})
  target_link_libraries(kestrane_${dir} PUBLIC kestrane_core)
endforeach()
kestrane_win_lib(kestrane_listing src/listing/listing.cpp)
target_link_libraries(kestrane_listing PUBLIC kestrane_format kestrane_catalogue kestrane_wmi)
file(GLOB export_srcs CONFIGURE_DEPENDS src/export/*.cpp)
kestrane_win_lib(kestrane_export ${export_srcs})
target_link_libraries(kestrane_export PUBLIC kestrane_listing)
kestrane_win_lib(kestrane_backends src/backends/snapshot_file.cpp src/backends/backends_windows.cpp)
target_link_libraries(kestrane_backends PUBLIC kestrane_wmi kestrane_com)

# Compare With needs no storage engine; the store stays out of this build.
kestrane_win_lib(kestrane_fleet_diff src/fleet/diff.cpp)
target_link_libraries(kestrane_fleet_diff PUBLIC kestrane_format kestrane_wmi kestrane_schema)
file(GLOB window_srcs CONFIGURE_DEPENDS src/window/*.cpp)
kestrane_win_lib(kestrane_window ${window_srcs})
target_link_libraries(kestrane_window PUBLIC kestrane_export kestrane_backends kestrane_fleet_diff)

set(KESTRANE_CORE_LIBS kestrane_backends kestrane_export kestrane_listing kestrane_format
    kestrane_catalogue kestrane_com kestrane_schema kestrane_wmi kestrane_core)

# `serve` answers SSH sessions, which the Windows build leaves out.
kestrane_win_lib(kestrane_cli_lib src/cli/cli.cpp src/cli/text_listing.cpp)
target_link_libraries(kestrane_cli_lib PUBLIC ${KESTRANE_CORE_LIBS})
add_executable(kestrane-cli src/cli/main.cpp)
target_link_libraries(kestrane-cli PRIVATE kestrane_cli_lib)
kestrane_static_exe(kestrane-cli)

# The window, with Qt 6 and QtKeychain for Windows (not built or checked on
# our machines; docs/windows.md). The SSH and WS-Management questions stay out
# with their back-ends.
if(KESTRANE_BUILD_APP)
  include(cmake/window.cmake)
  kestrane_add_window(remote_hooks)
endif()


if(KESTRANE_BUILD_TESTS)
  add_subdirectory(tests/windows)
endif()

# The native window, kestrane.exe.
include(cmake/win32.cmake)
