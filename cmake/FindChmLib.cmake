# Finds chmlib, which reads compiled HTML help files for the help viewer outside Windows.
find_path(ChmLib_INCLUDE_DIR chm_lib.h)
find_library(ChmLib_LIBRARY NAMES chm)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(ChmLib REQUIRED_VARS ChmLib_LIBRARY ChmLib_INCLUDE_DIR)
if(ChmLib_FOUND AND NOT TARGET ChmLib::ChmLib)
  add_library(ChmLib::ChmLib UNKNOWN IMPORTED)
  set_target_properties(ChmLib::ChmLib PROPERTIES
    IMPORTED_LOCATION "${ChmLib_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ChmLib_INCLUDE_DIR}")
endif()
mark_as_advanced(ChmLib_INCLUDE_DIR ChmLib_LIBRARY)
