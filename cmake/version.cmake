# The version the programs report, taken from project().
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/vellumar_version.h
     CONTENT "#pragma once\n#define VELLUMAR_VERSION \"${PROJECT_VERSION}\"\n")
target_include_directories(vellumar-convert PRIVATE ${PROJECT_BINARY_DIR}/generated)
if(TARGET vellumar_gui)
  target_include_directories(vellumar_gui PRIVATE ${PROJECT_BINARY_DIR}/generated)
endif()
