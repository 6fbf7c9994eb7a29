# Windows programs that the Wine tests of the native build run: the fake
# desktop program and a helper that reads version resources and posts quit
# messages. Console programs, linked statically like the launcher.
add_executable(fake_zanfiro_win "${CMAKE_CURRENT_LIST_DIR}/fake_zanfiro.cpp")
target_compile_options(fake_zanfiro_win PRIVATE -Wall -Wextra -municode)
target_link_options(fake_zanfiro_win PRIVATE -municode)
target_link_libraries(fake_zanfiro_win PRIVATE shell32)

add_executable(wine_tool "${CMAKE_CURRENT_LIST_DIR}/wine_tool.cpp")
target_compile_options(wine_tool PRIVATE -Wall -Wextra)
target_link_libraries(wine_tool PRIVATE version user32)

add_executable(win32_platform_check "${CMAKE_CURRENT_LIST_DIR}/win32_platform_check.cpp")
target_compile_options(win32_platform_check PRIVATE -Wall -Wextra)
target_link_libraries(win32_platform_check PRIVATE zwl_platform)
