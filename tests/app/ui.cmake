# The main window, its runner and connection control, offscreen and against the simulator.
matrix_add_test(tst_mainwindow gui ${CMAKE_CURRENT_LIST_DIR}/tst_mainwindow.cpp)
target_link_libraries(tst_mainwindow PRIVATE matrix_app_ui)

matrix_add_test(tst_commandrunner e2e ${CMAKE_CURRENT_LIST_DIR}/tst_commandrunner.cpp)
target_link_libraries(tst_commandrunner PRIVATE matrix_app_ui matrix_sim)

matrix_add_test(tst_devicestatus e2e ${CMAKE_CURRENT_LIST_DIR}/tst_devicestatus.cpp)
target_link_libraries(tst_devicestatus PRIVATE matrix_app_ui matrix_sim)
