# Main window, command runner, connection control (matrix_app_ui) and the program entry.
add_library(matrix_app_ui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CommandRunner.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandRunner.h
    ${CMAKE_CURRENT_LIST_DIR}/ConnectionControl.cpp ${CMAKE_CURRENT_LIST_DIR}/ConnectionControl.h
    ${CMAKE_CURRENT_LIST_DIR}/DemoSwitcher.cpp ${CMAKE_CURRENT_LIST_DIR}/DemoSwitcher.h
    ${CMAKE_CURRENT_LIST_DIR}/DeviceStatusPanel.cpp ${CMAKE_CURRENT_LIST_DIR}/DeviceStatusPanel.h
    ${CMAKE_CURRENT_LIST_DIR}/Glyphs.cpp ${CMAKE_CURRENT_LIST_DIR}/Glyphs.h
    ${CMAKE_CURRENT_LIST_DIR}/InputGate.cpp ${CMAKE_CURRENT_LIST_DIR}/InputGate.h
    ${CMAKE_CURRENT_LIST_DIR}/ShellServices.cpp ${CMAKE_CURRENT_LIST_DIR}/ShellServices.h
    ${CMAKE_CURRENT_LIST_DIR}/StatusBar.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusBar.h
    ${CMAKE_CURRENT_LIST_DIR}/ProgramIdentity.h
    ${CMAKE_CURRENT_LIST_DIR}/TForm1.cpp ${CMAKE_CURRENT_LIST_DIR}/TForm1.h
    ${CMAKE_CURRENT_LIST_DIR}/WindowFont.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowFont.h
    ${CMAKE_CURRENT_LIST_DIR}/WindowTour.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowTour.h
    ${CMAKE_CURRENT_LIST_DIR}/TForm1.ui
)
target_include_directories(matrix_app_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# --demo runs the simulated switcher inside the window's process.
target_link_libraries(matrix_app_ui PRIVATE matrix_sim Qt6::Concurrent project_options)
target_link_libraries(matrix_app_ui PUBLIC matrix_app_core matrix_edid_ui matrix_firmware_ui matrix_routing_ui matrix_netmodule_ui matrix_netmodule matrix_shell matrix_link Qt6::Widgets Qt6::SerialPort)

add_executable(matrix-controller ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(matrix-controller PRIVATE matrix_app_ui project_options)
