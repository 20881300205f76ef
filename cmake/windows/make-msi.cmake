# Builds the Windows Installer package: wixl (msitools) compiles
# kvm-upgrade.wxs in a folder that holds what the ZIP holds (the Windows
# build's install tree, stripped), then msibuild adds what wixl 0.101 cannot
# express. Run by the msi target of the Windows build:
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DVERSION=... -DMANUFACTURER=...
#         -DWIXL=... -DMSIBUILD=... -DMSIINFO=... -DOUTPUT=... -P make-msi.cmake
foreach(var BUILD_DIR SOURCE_DIR VERSION MANUFACTURER WIXL MSIBUILD MSIINFO OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make-msi.cmake: ${var} not given")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "make-msi.cmake: ${ARGN} failed (${rc}):\n${out}")
  endif()
endfunction()

set(stage ${BUILD_DIR}/msi-stage)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage} --strip)
file(COPY_FILE ${SOURCE_DIR}/cmake/windows/kvm-upgrade.ico ${stage}/kvm-upgrade.ico)

set(msi ${OUTPUT}.part)
file(REMOVE ${msi})
run(${WIXL} --arch x64 -D Version=${VERSION} -D Manufacturer=${MANUFACTURER} -o ${msi}
    ${SOURCE_DIR}/cmake/windows/kvm-upgrade.wxs)

# The install folder appended to the system's PATH while the command line is
# installed, and taken out again when it is removed: "=" sets it on install,
# "-" removes it on uninstall, "*" makes it the system's, "[~];" appends.
file(WRITE ${stage}/Environment.idt
  "Environment\tName\tValue\tComponent_\r\ns72\tl255\tL255\ts72\r\nEnvironment\tEnvironment\r\n"
  "Path\t=-*PATH\t[~];[INSTALLDIR]\tCommandLine\r\n")
run(${MSIBUILD} ${msi} -i Environment.idt)
run(${MSIBUILD} ${msi} -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)")
run(${MSIBUILD} ${msi} -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)")

# MajorUpgrade removes only older versions, and Windows Installer compares
# three numbers of four: 1.0.0.5 would install beside 1.0.0.4. The removal
# row takes the same three numbers too (WiX's AllowSameVersionUpgrades: the
# maximum inclusive, 512). Attributes is part of the row's key, so the table
# is written anew.
execute_process(COMMAND ${MSIINFO} export ${msi} Upgrade RESULT_VARIABLE rc OUTPUT_VARIABLE upgrade)
string(REPLACE "\t1\t\tWIX_UPGRADE_DETECTED" "\t513\t\tWIX_UPGRADE_DETECTED" patched "${upgrade}")
if(NOT rc EQUAL 0 OR patched STREQUAL upgrade)
  message(FATAL_ERROR "make-msi.cmake: no upgrade row to widen in:\n${upgrade}")
endif()
file(WRITE ${stage}/Upgrade.idt "${patched}")
run(${MSIBUILD} ${msi} -i Upgrade.idt)

file(RENAME ${msi} ${OUTPUT})
