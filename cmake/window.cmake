# The Qt window: kestrane_app of src/qt/ (without main.cpp and the files
# named `leaveOut`.cpp/.h) and the program kestrane. A macro, so that the Qt
# settings it makes (AUTOMOC, AUTORCC) reach the tests as well.
macro(kestrane_add_window leaveOut)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  find_package(Qt6Keychain REQUIRED)
  set(CMAKE_AUTOMOC ON)
  set(CMAKE_AUTORCC ON)
  file(GLOB app_srcs CONFIGURE_DEPENDS src/qt/*.cpp src/qt/*.h src/qt/*.qrc)
  list(FILTER app_srcs EXCLUDE REGEX "/main\\.cpp$")
  list(FILTER app_srcs EXCLUDE REGEX "/${leaveOut}\\.(cpp|h)$")
  add_library(kestrane_app STATIC ${app_srcs})
  target_include_directories(kestrane_app PUBLIC src)
  target_link_libraries(kestrane_app PUBLIC Qt6::Widgets qt6keychain kestrane_window ${KESTRANE_CORE_LIBS})
  add_executable(kestrane src/qt/main.cpp)
  # A program with a window of its own, no console (Windows).
  set_target_properties(kestrane PROPERTIES WIN32_EXECUTABLE ON)
  target_link_libraries(kestrane PRIVATE kestrane_app)
endmacro()
