# The main window, its runner and connection control, offscreen and against the simulator.
matrix_add_test(tst_mainwindow gui ${CMAKE_CURRENT_LIST_DIR}/tst_mainwindow.cpp)
target_link_libraries(tst_mainwindow PRIVATE matrix_app_ui matrix_sim)

matrix_add_test(tst_commandrunner e2e ${CMAKE_CURRENT_LIST_DIR}/tst_commandrunner.cpp)
target_link_libraries(tst_commandrunner PRIVATE matrix_app_ui matrix_sim)

matrix_add_test(tst_devicestatus e2e ${CMAKE_CURRENT_LIST_DIR}/tst_devicestatus.cpp)
target_link_libraries(tst_devicestatus PRIVATE matrix_app_ui matrix_sim)

# What the operator sees: texts that fit, the hex view's ink, captions, plain operator texts.
# Run a second time with the Times New Roman twin hidden from fontconfig, as on a desktop
# without fonts-liberation2.
matrix_add_test(tst_legibility gui ${CMAKE_CURRENT_LIST_DIR}/tst_legibility.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FitCheck.h)
target_link_libraries(tst_legibility PRIVATE matrix_app_ui matrix_sim)
configure_file(${CMAKE_CURRENT_LIST_DIR}/no-liberation-fonts.conf
    ${CMAKE_CURRENT_BINARY_DIR}/no-liberation-fonts.conf COPYONLY)
add_test(NAME tst_legibility_fallback COMMAND tst_legibility)
set_tests_properties(tst_legibility_fallback PROPERTIES LABELS gui
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${CMAKE_CURRENT_BINARY_DIR}/no-liberation-fonts.conf")
# Demo mode's switcher serves the module datagram ports on loopback; two at once would take
# them from each other, so the suites that start it take turns.
set_tests_properties(tst_devicestatus tst_legibility tst_legibility_fallback
    PROPERTIES RESOURCE_LOCK demo_module_ports)
