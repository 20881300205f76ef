# The .debs, one for each install component: cpack -G DEB in the build
# folder (scripts/build-debs.sh makes them from a build with Debian's build
# flags). Included by packaging/CMakeLists.txt, whose components it packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvm-upgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the kvm-upgrade developers")
set(CPACK_PACKAGE_CONTACT ${KVM_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${KVM_COMPONENTS})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Each package's Depends come from its own programs (dpkg-shlibdeps runs
# once for each), so the command line's names no Qt library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A component's DEPENDS become "package (= version)".
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KVM_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KVM_PACKAGE_MAINTAINER})
foreach(component IN LISTS KVM_COMPONENTS)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${KVM_PACKAGE_${component}})
  # The three come from one source, whose changelog each carries.
  set(CPACK_DEBIAN_${upper}_PACKAGE_SOURCE kvm-upgrade)
endforeach()

# Each description's first line is its summary; Debian shows the rest as it
# is: lines of at most 80 characters.
set(CPACK_DEBIAN_CLI_DESCRIPTION [[
firmware upgrade utility for KVM switches (command line)
kvm-upgrade-cli sends a new firmware image to a KVM switch with an on-screen
display through its serial upgrade cable. It checks the file before any port
is opened (CRC-16, model and date), finds the switch on a chosen port or by
scanning COM1 to COM12, compares the switch's firmware date with the file's,
and reports an upgrade as complete only when the switch has acknowledged
every block. Its exit status and JSON report suit scripts.

This package needs no graphical libraries; the dialog is in kvm-upgrade.]])
set(CPACK_DEBIAN_DIALOG_DESCRIPTION [[
firmware upgrade utility for KVM switches (dialog)
kvm-upgrade sends a new firmware image to a KVM switch with an on-screen
display through its serial upgrade cable, from a small Qt dialog: pick the
file, check the switch's firmware date against the file's, and follow the
upgrade in a progress bar and a log.

The command line, kvm-upgrade-cli, comes with it.]])
set(CPACK_DEBIAN_TESTTOOLS_DESCRIPTION [[
firmware upgrade utility for KVM switches (testing tools)
kvm-switch-sim simulates a KVM switch on a pseudo-terminal, so that
kvm-upgrade and kvm-upgrade-cli can be tried and tested without the hardware.
kvm-make-firmware writes sample firmware files for it.

The files kvm-make-firmware writes hold no real firmware, yet pass every check
of the utility: they are for the simulated switch only. Sent to a real switch,
one could leave it unable to start.]])

include(CPack)
cpack_add_component(cli DISPLAY_NAME "kvm-upgrade-cli")
cpack_add_component(testtools DISPLAY_NAME "kvm-upgrade-testtools")
if("dialog" IN_LIST KVM_COMPONENTS)
  cpack_add_component(dialog DISPLAY_NAME "kvm-upgrade" DEPENDS cli)
endif()
