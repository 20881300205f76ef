# Gives a Windows program its icon, a version record (the project's version,
# 1.0.0.4) and its application manifest (Common Controls 6, per-monitor DPI
# awareness), compiled with windres.
function(kvm_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(KVM_RC_NAME ${target})
  set(KVM_RC_FILE ${target}.exe)
  set(KVM_RC_DESCRIPTION ${description})
  set(KVM_RC_ICON ${KVM_SOURCE_ROOT}/cmake/windows/kvm-upgrade.ico)
  # A manifest's assembly version has four numbers, or Windows refuses to
  # start the program.
  set(tweak ${PROJECT_VERSION_TWEAK})
  if(tweak STREQUAL "")
    set(tweak 0)
  endif()
  set(KVM_RC_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${tweak})
  set(KVM_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${KVM_SOURCE_ROOT}/cmake/windows/program.manifest.in ${KVM_RC_MANIFEST} @ONLY)
  # Not ${target}.rc: kvm-upgrade.rc is the dialog's own script in its source
  # folder, and CMake may take one same-named source for the other.
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-program.rc)
  configure_file(${KVM_SOURCE_ROOT}/cmake/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres reads the two files the script names, which CMake does not see.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KVM_RC_MANIFEST};${KVM_RC_ICON}")
endfunction()
