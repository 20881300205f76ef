# The Windows Installer package beside the ZIP, built with every build of the
# Windows programs: build/mingw/kvm-upgrade-VERSION-win64.msi (per machine,
# into Program Files, a Start-menu entry, the command line on the PATH).
find_program(KVM_WIXL wixl)
find_program(KVM_MSIBUILD msibuild)
find_program(KVM_MSIINFO msiinfo)
if(NOT KVM_WIXL OR NOT KVM_MSIBUILD OR NOT KVM_MSIINFO)
  message(FATAL_ERROR "The Windows build makes an MSI with wixl, msibuild and msiinfo (Debian packages wixl "
                      "and msitools): ./scripts/install-deps.sh --windows installs them")
endif()

set(KVM_MSI ${CMAKE_BINARY_DIR}/kvm-upgrade-${PROJECT_VERSION}-win64.msi)
set(KVM_MSI_MANUFACTURER "kvm-upgrade developers")
set(windows ${KVM_SOURCE_ROOT}/cmake/windows)
add_custom_command(OUTPUT ${KVM_MSI}
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${KVM_SOURCE_ROOT}
          -DVERSION=${PROJECT_VERSION} -DMANUFACTURER=${KVM_MSI_MANUFACTURER} -DWIXL=${KVM_WIXL}
          -DMSIBUILD=${KVM_MSIBUILD} -DMSIINFO=${KVM_MSIINFO} -DOUTPUT=${KVM_MSI} -P ${windows}/make-msi.cmake
  DEPENDS kvm-upgrade kvm-upgrade-cli kvm-make-firmware ${windows}/kvm-upgrade.wxs ${windows}/make-msi.cmake
          ${windows}/kvm-upgrade.ico ${CMAKE_BINARY_DIR}/README.txt ${KVM_SOURCE_ROOT}/LICENSE
  COMMENT "Building the Windows Installer package kvm-upgrade-${PROJECT_VERSION}-win64.msi"
  VERBATIM)
add_custom_target(msi ALL DEPENDS ${KVM_MSI})
