# Builds the per-user installer from quillmore.wxs with wixl, then sets the
# Start-menu shortcut's key with msibuild: wixl fills no Hotkey column.
#
#   cmake -DVERSION=1.0.0 -DARCH=x86|x64 -DSOURCE_DIR=DIR -DOUTPUT=FILE
#         -P make_msi.cmake
#
# SOURCE_DIR holds what the zip holds, and quillmore.ico. The product code
# follows from the version and the architecture, so a rebuild is the same
# product and each new version is a new one; the upgrade code never changes,
# and is the same for both architectures: they install the same folder.
foreach(var VERSION ARCH SOURCE_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_msi.cmake: -D${var}=... is missing")
  endif()
endforeach()

set(upgrade_code 63FC2824-654C-47FA-8E0E-50BF3A95AE87)
string(UUID product_code NAMESPACE ${upgrade_code}
       NAME "quillmore ${VERSION} ${ARCH}" TYPE SHA1 UPPER)

find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
execute_process(
  COMMAND ${WIXL} --arch ${ARCH} -o ${OUTPUT}
          -D Version=${VERSION} -D Arch=${ARCH}
          -D ProductCode=${product_code} -D UpgradeCode=${upgrade_code}
          ${CMAKE_CURRENT_LIST_DIR}/quillmore.wxs
  WORKING_DIRECTORY ${SOURCE_DIR}
  COMMAND_ERROR_IS_FATAL ANY)
# Low byte the virtual key ('Q'), high byte the modifiers: HOTKEYF_CONTROL
# (2) | HOTKEYF_ALT (4). Ctrl+Alt+Q, as the readme suggests everywhere.
math(EXPR hotkey "(0x02 | 0x04) << 8 | 0x51")
# The same version of the other architecture is replaced too: the upper
# bound of the versions to replace is made inclusive (0x200, with 1 to carry
# the features over), as WiX's AllowSameVersionUpgrades does, which wixl
# lacks. The attributes are part of the row's key, so the row is replaced.
foreach(
  query
  "UPDATE `Shortcut` SET `Hotkey` = ${hotkey} WHERE `Shortcut` = 'quillmore'"
  "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
  "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{${upgrade_code}}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')"
)
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q ${query}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
