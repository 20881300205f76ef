# Gives a Windows program its icon and a version record (the project's
# version, 1.0.0.4), compiled with windres.
function(kvm_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(KVM_RC_NAME ${target})
  set(KVM_RC_FILE ${target}.exe)
  set(KVM_RC_DESCRIPTION ${description})
  set(KVM_RC_ICON ${KVM_SOURCE_ROOT}/cmake/windows/kvm-upgrade.ico)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${KVM_SOURCE_ROOT}/cmake/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
