# Finds QScintilla for Qt 6. Debian ships it without a CMake package: the library is
# qscintilla2_qt6 and the headers sit in Qsci/ under the Qt 6 include folder.
get_target_property(_qt6_core_includes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
set(_qsci_hints "")
foreach(_dir IN LISTS _qt6_core_includes)
  get_filename_component(_parent "${_dir}" DIRECTORY)
  list(APPEND _qsci_hints "${_dir}" "${_parent}")
endforeach()

find_path(QScintilla_INCLUDE_DIR Qsci/qsciscintillabase.h
  HINTS ${_qsci_hints}
  PATH_SUFFIXES qt6 x86_64-linux-gnu/qt6 aarch64-linux-gnu/qt6)
find_library(QScintilla_LIBRARY NAMES qscintilla2_qt6 qscintilla2_qt6d)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(QScintilla
  REQUIRED_VARS QScintilla_LIBRARY QScintilla_INCLUDE_DIR
  REASON_FAILURE_MESSAGE
    "QScintilla for Qt 6 was not found. On Debian install it with: sudo apt-get install libqscintilla2-qt6-dev (or run scripts/install-deps.sh)")

if(QScintilla_FOUND AND NOT TARGET QScintilla::QScintilla)
  add_library(QScintilla::QScintilla UNKNOWN IMPORTED)
  set_target_properties(QScintilla::QScintilla PROPERTIES
    IMPORTED_LOCATION "${QScintilla_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${QScintilla_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "Qt6::Widgets;Qt6::Gui;Qt6::Core")
  if(WIN32)
    # A DLL there: its classes are imported.
    set_property(TARGET QScintilla::QScintilla PROPERTY INTERFACE_COMPILE_DEFINITIONS QSCINTILLA_DLL)
  endif()
endif()
mark_as_advanced(QScintilla_INCLUDE_DIR QScintilla_LIBRARY)
