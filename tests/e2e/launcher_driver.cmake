# lumidra_add_launcher_driver(<test name> <python module>): one unittest module that drives the real
# launcher binary. Such tests use the launcher's port range, so they take turns on its lock.
find_package(Python3 COMPONENTS Interpreter)
function(lumidra_add_launcher_driver name module)
  add_test(NAME ${name}
           COMMAND Python3::Interpreter -B -m unittest -v ${module}
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES
    RESOURCE_LOCK launcher_ports
    TIMEOUT 600
    ENVIRONMENT "LUMIDRA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LUMIDRA_BINARY_DIR=${CMAKE_BINARY_DIR};LUMIDRA_LAUNCHER=$<TARGET_FILE:lumidra>")
endfunction()
