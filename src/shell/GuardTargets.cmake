# The shell's parts without widgets: the platform query and the single-instance guard (Qt Core
# only), and the settings file reader (standard C++ only, so the sanitizer and fuzz builds test
# it). Paths are taken from this file's own folder, so it can be included from any CMakeLists.txt.
find_package(Qt6 REQUIRED COMPONENTS Core)
add_library(busweave_guard STATIC ${CMAKE_CURRENT_LIST_DIR}/U_OS.cpp ${CMAKE_CURRENT_LIST_DIR}/UMutex.cpp)
target_include_directories(busweave_guard PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(busweave_guard PUBLIC Qt6::Core PRIVATE busweave_warnings)

add_library(busweave_profile STATIC ${CMAKE_CURRENT_LIST_DIR}/Profil.cpp)
target_include_directories(busweave_profile PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(busweave_profile PUBLIC busweave_model PRIVATE busweave_warnings)
