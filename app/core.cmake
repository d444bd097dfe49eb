# Widget-free pieces of the application shell.
add_library(matrix_app_core STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AppSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/SettingsFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SettingsFile.h
    ${CMAKE_CURRENT_LIST_DIR}/SettingsLocation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SettingsLocation.h
    ${CMAKE_CURRENT_LIST_DIR}/SettingsStore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SettingsStore.h
)
target_include_directories(matrix_app_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The distribution's SimpleIni library is built with the ICU converter; the header must agree.
target_compile_definitions(matrix_app_core PRIVATE SI_CONVERT_ICU)
# The settings hold the subsystems' own types: the control mode, port tags and EDID choices.
target_link_libraries(matrix_app_core
    PUBLIC Qt6::Core matrix_protocol matrix_link matrix_routing matrix_edid
    PRIVATE PkgConfig::SIMPLEINI project_options)
