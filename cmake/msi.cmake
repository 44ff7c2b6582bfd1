# Makes the Windows installer of one build: wixl turns cmake/nonl.wxs into OUT, then msibuild
# adds what wixl cannot write, the PATH entry of the user (or of every user, for ALLUSERS=1),
# removed again with the package, and the actions that write and remove it.
# cmake -DWIXL=... -DMSIBUILD=... -DARCH=x86|x64 -DVERSION=... -DEXE=... -DLICENSE=... -DMANUAL=...
#       -DWXS=... -DOUT=... -P msi.cmake
# Each component's code, fixed for good: for the 32-bit build, then the 64-bit one.
set(components Tool StartMenu SendTo UserPath MachinePath)
set(codes_x86 3A4D9DCC-AE80-4CAC-B261-419CDF1B92E3 531805BB-DB25-480D-90C6-0030F38D9905
              41AE583A-8D47-444D-BC0F-CE6DC8C0086E 57DEBD39-8336-4EE6-80BB-F7404FA9845D
              4E2C5E88-9BB2-4530-85F1-6DC24BFC5826)
set(codes_x64 9EA1A13D-56E0-49B5-9800-EBCD34ACC79F BF7F3267-AACB-4D8F-8B6E-F46DBEFDF69C
              B515EEF4-399F-42A0-B768-1A26B70112F5 936AFF01-FA8A-429C-9BDB-DE41BD6A2501
              98BBADC5-CF4F-47CE-9C53-683E0F94DB13)
if(ARCH STREQUAL "x64")
  set(program_files ProgramFiles64Folder)
  set(win64 yes)
else()
  set(program_files ProgramFilesFolder)
  set(win64 no)
endif()
set(defines)
foreach(component code IN ZIP_LISTS components codes_${ARCH})
  list(APPEND defines -D ${component}Guid=${code})
endforeach()
foreach(path EXE LICENSE MANUAL WXS OUT)
  get_filename_component(${path} "${${path}}" ABSOLUTE)
endforeach()
# wixl takes the files by names relative to where it runs: they are gathered there.
set(files ${OUT}.files)
file(REMOVE_RECURSE ${files})
file(MAKE_DIRECTORY ${files})
file(COPY ${EXE} ${LICENSE} ${MANUAL} DESTINATION ${files})
get_filename_component(exe ${EXE} NAME)
get_filename_component(manual ${MANUAL} NAME)
execute_process(
  COMMAND ${WIXL} -a ${ARCH} -D Version=${VERSION} -D ProgramFiles=${program_files} -D Win64=${win64} ${defines}
          -D Exe=${exe} -D License=LICENSE -D Manual=${manual} -o ${OUT} ${WXS}
  WORKING_DIRECTORY ${files}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl could not make ${OUT}")
endif()
function(query text)
  execute_process(COMMAND ${MSIBUILD} ${OUT} -q "${text}" RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "msibuild could not run on ${OUT}: ${text}")
  endif()
endfunction()
# Environment: =-PATH sets the user's PATH and takes it away with the package, =-*PATH every
# user's; [~]; appends to what is there.
query("CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)")
foreach(entry "UserPath =-PATH" "MachinePath =-*PATH")
  string(REPLACE " " ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 name)
  query("INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('${component}', '${name}', '[~];[INSTALLFOLDER]', '${component}')")
endforeach()
query("UPDATE `Component` SET `Condition` = 'NOT ALLUSERS' WHERE `Component` = 'UserPath'")
query("UPDATE `Component` SET `Condition` = 'ALLUSERS' WHERE `Component` = 'MachinePath'")
# The other build of this version is replaced too: the upgrade's highest version is inclusive
# (msidbUpgradeAttributesMigrateFeatures and VersionMaxInclusive).
query("DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
query("INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{6B0E1B0A-4C57-4F6E-9B4B-2D8C7A1E5F31}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")
query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)")
query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
