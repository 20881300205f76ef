# The flags Debian builds its own packages with, from dpkg-buildflags: the
# .debs are made with them (scripts/build-debs.sh), and the plain build that
# tests the .debs uses them too, so that what is tested is what ships.
# hardening=+all adds bindnow (-z now) to the defaults: stack protector,
# _FORTIFY_SOURCE=2, format-security, relro. Included before any target is
# defined, since each folder takes the flags as they are when it is added.
option(KVM_DEBIAN_BUILDFLAGS "Build with Debian's build flags (dpkg-buildflags, hardening=+all), as the .debs are" OFF)

if(KVM_DEBIAN_BUILDFLAGS)
  if(KVM_SANITIZE OR KVM_FUZZ OR CMAKE_CROSSCOMPILING)
    # _FORTIFY_SOURCE hides overflows from the sanitizers, and MinGW's
    # linker knows no relro.
    message(FATAL_ERROR "KVM_DEBIAN_BUILDFLAGS is for native Linux builds without sanitizers or fuzzing")
  endif()
  find_program(KVM_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    # Run from the source folder: its -ffile-prefix-map names the folder it
    # is run in, which keeps the build folder's path out of the programs.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
        ${KVM_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE kvm_deb_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # CMake reads no CPPFLAGS: the preprocessor's flags go with the compilers'.
  # The build type's own flags (-O3 -DNDEBUG for Release) still come after.
  string(APPEND CMAKE_C_FLAGS " ${kvm_deb_CPPFLAGS} ${kvm_deb_CFLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " ${kvm_deb_CPPFLAGS} ${kvm_deb_CXXFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${kvm_deb_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${kvm_deb_LDFLAGS}")
  message(STATUS "Debian's build flags: ${kvm_deb_CPPFLAGS} ${kvm_deb_CXXFLAGS} ${kvm_deb_LDFLAGS}")
endif()
